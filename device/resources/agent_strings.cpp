#include "resources/agent_strings.h"

namespace {

constexpr uint16_t kEnglish = 1033;
constexpr uint16_t kFrench = 1036;
constexpr uint16_t kGerman = 1031;
constexpr uint16_t kItalian = 1040;
constexpr uint16_t kSpanish = 3082;

#define EN_HEAD u"Upgrading the ROM image on your Lumo Pocket PC...\r\n\r\nPlease do not remove the USB/Serial connection or power adapter from the Lumo Pocket PC.  Remember, the operation will take "
#define FR_HEAD_SERIAL u"Mise a jour de l'image ROM sur votre Pocket PC...\r\n\r\nN'interrompez pas la connexion USB/serie et ne coupez pas l'alimentation du Pocket PC. N'oubliez pas que l'operation prend "
#define FR_HEAD_USB u"Mise a jour de l'image ROM sur votre Pocket PC...\r\n\r\nNe supprimez pas la connexion USB/serie et ne coupez pas l'alimentation du Pocket PC. N'oubliez pas que l'operation prend "
#define DE_HEAD_SERIAL u"Das ROM-Image Ihres Gerats wird aktualisiert...\r\n\r\nBitte trennen Sie weder USB- bzw. serielle Verbindung noch die Netzstromversorgung vom Gerat. Denken Sie daran, dass der Vorgang "
#define DE_HEAD_USB u"Das ROM-Image Ihres Gerats wird aktualisiert...\r\n\r\nBitte trennen Sie weder USB- bzw. serielle Verbindung noch die Wechselstromversorgung vom Gerat. Denken Sie daran, dass der Vorgang "
#define IT_HEAD_SERIAL u"Aggiornamento dell'immagine ROM del palmare...\r\n\r\nNon interrompere la connessione sulla porta USB/seriale o l'alimentazione CA del palmare. Tenere presente che l'operazione puo richiedere "
#define IT_HEAD_USB u"Aggiornamento dell'immagine ROM del palmare...\r\n\r\nNon interrompere la connessione alla porta USB/seriale o l'alimentazione CA del palmare. Tenere presente che l'operazione puo richiedere "
#define ES_HEAD u"Actualizando la imagen de la ROM del equipo...\r\n\r\nNo interrumpa la conexion USB/serie ni la alimentacion de corriente alterna del equipo durante la operacion. Recuerde que la operacion durara "

// The Japanese (3601-3604) and Simplified Chinese (3701-3704) texts are
// never loaded by the agent and are not carried here.
constexpr AgentString kStrings[] = {
    {3101, kEnglish, EN_HEAD u"about 30 minutes."},
    {3102, kEnglish, EN_HEAD u"about 4 minutes."},
    {3103, kEnglish, EN_HEAD u"about 60 minutes."},
    {3104, kEnglish, EN_HEAD u"about 8 minutes."},
    {3201, kFrench, FR_HEAD_SERIAL u"environ 30 minutes."},
    {3202, kFrench, FR_HEAD_USB u"environ 4 minutes."},
    {3203, kFrench, FR_HEAD_SERIAL u"environ 60 minutes."},
    {3204, kFrench, FR_HEAD_USB u"environ 8 minutes."},
    {3301, kGerman, DE_HEAD_SERIAL u"etwa 30 Minuten dauert."},
    {3302, kGerman, DE_HEAD_USB u"etwa 4 Minuten dauert."},
    {3303, kGerman, DE_HEAD_SERIAL u"etwa 60 Minuten dauert."},
    {3304, kGerman, DE_HEAD_USB u"etwa 8 Minuten dauert."},
    {3401, kItalian, IT_HEAD_SERIAL u"circa 30 minuti."},
    {3402, kItalian, IT_HEAD_USB u"circa 4 minuti."},
    {3403, kItalian, IT_HEAD_SERIAL u"circa 60 minuti."},
    {3404, kItalian, IT_HEAD_USB u"circa 8 minuti."},
    {3501, kSpanish, ES_HEAD u"unos 30 minutos."},
    {3502, kSpanish, ES_HEAD u"unos 4 minutos."},
    {3503, kSpanish, ES_HEAD u"unos 60 minutos."},
    {3504, kSpanish, ES_HEAD u"unos 8 minutos."},
};

}  // namespace

const AgentString* FindAgentString(uint32_t id) {
  for (const AgentString& s : kStrings) {
    if (s.id == id) return &s;
  }
  return nullptr;
}
