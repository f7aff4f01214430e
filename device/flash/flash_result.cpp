#include "flash/flash_result.h"

const char* FlashResultText(FlashResult code) {
  switch (code) {
    case kFlashSucceed: return "Succeed";
    case kFlashIdentifyFailed: return "Identify failed";
    case kFlashInvalidAddress: return "Invalid address";
    case kFlashLengthOverMaxLimit: return "Length over max limit";
    case kFlashUnavailableCommand: return "Unavailable command";
    case kFlashEraseTimeOut: return "Erase time out";
    case kFlashWriteCommandTimeOut: return "Write command time out";
    case kFlashWriteVerifySetupTimeOut: return "Write verify setup time out";
    case kFlashWriteVerifyFailed: return "Write verify failed";
    case kFlashWriteBufferCommandTimeOut: return "Write buffer command time out";
    case kFlashWriteBufferVerifySetupTimeOut: return "Write buffer verify setup time out";
    case kFlashWriteBufferVerifyFailed: return "Write buffer verify failed";
  }
  return "Unknown";
}
