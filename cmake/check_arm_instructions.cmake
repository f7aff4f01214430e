# Holds a bare ARM image to the StrongARM SA-1110's instruction set: ARMv4
# without Thumb. Run as a script after the image is linked:
#   cmake -DOBJDUMP=... -DREADELF=... -DIMAGE=... -P check_arm_instructions.cmake
# Every instruction must be one 32-bit ARM word whose mnemonic ARMv4 has (so
# no bx, blx, clz, Thumb or ARMv5-and-later instruction), and the image's
# attributes must say ARMv4 without Thumb. On a failure the image is removed,
# so that no unchecked image is left for the simulator.
foreach(var OBJDUMP READELF IMAGE)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "check_arm_instructions: ${var} is not set")
  endif()
endforeach()

set(conditions "eq|ne|cs|hs|cc|lo|mi|pl|vs|vc|hi|ls|ge|lt|gt|le|al")
set(block_modes "ia|ib|da|db|fd|fa|ed|ea")
set(armv4
    "(and|eor|sub|rsb|add|adc|sbc|rsc|orr|bic|mov|mvn|lsl|lsr|asr|ror|rrx|mul|mla|umull|umlal|smull|smlal)s?"
    "tst|teq|cmp|cmn"
    "ldr|str|ldrb|strb|ldrh|strh|ldrsb|ldrsh|ldrt|strt|ldrbt|strbt"
    "ldm(${block_modes})?|stm(${block_modes})?|push|pop|swp|swpb"
    "b|bl|mrs|msr|svc|swi|cdp|ldc|stc|mcr|mrc|nop")
string(JOIN "|" armv4_mnemonics ${armv4})
set(hex "[0-9a-f]")
set(arm_word "^${hex}${hex}${hex}${hex}${hex}${hex}${hex}${hex} *$")

set(problems "")
macro(refuse text)
  string(APPEND problems "  ${text}\n")
endmacro()

execute_process(COMMAND ${READELF} -A ${IMAGE} OUTPUT_VARIABLE attributes RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  refuse("${READELF} -A failed")
endif()
if(NOT attributes MATCHES "Tag_CPU_arch: v4\n")
  refuse("the image's attributes do not say ARMv4 (Tag_CPU_arch)")
endif()
if(attributes MATCHES "Tag_THUMB_ISA_use: Thumb")
  refuse("the image's attributes allow Thumb code (Tag_THUMB_ISA_use)")
endif()

execute_process(COMMAND ${OBJDUMP} -d ${IMAGE} OUTPUT_VARIABLE listing RESULT_VARIABLE status)
if(NOT status EQUAL 0)
  refuse("${OBJDUMP} -d failed")
endif()
string(REPLACE ";" "\\;" listing "${listing}")
string(REPLACE "\n" ";" lines "${listing}")
set(instructions 0)
foreach(line IN LISTS lines)
  # "address:<tab>encoding<tab>mnemonic<tab>operands"
  if(NOT line MATCHES "^ *(${hex}+):\t([0-9a-f ]+)\t([^\t ]+)")
    continue()
  endif()
  set(encoding "${CMAKE_MATCH_2}")
  set(mnemonic "${CMAKE_MATCH_3}")
  if(mnemonic MATCHES "^\\.(word|short|byte)$")
    continue()  # a literal pool, not code
  endif()
  math(EXPR instructions "${instructions} + 1")
  if(NOT encoding MATCHES "${arm_word}")
    refuse("${line}  (not a 32-bit ARM instruction: Thumb code)")
  elseif(NOT mnemonic MATCHES "^(${armv4_mnemonics})(${conditions})?$")
    refuse("${line}  (not in ARMv4)")
  endif()
endforeach()
if(instructions EQUAL 0)
  refuse("no instruction found in the listing")
endif()

if(NOT problems STREQUAL "")
  file(REMOVE ${IMAGE})
  message(FATAL_ERROR "${IMAGE} holds code the SA-1110 cannot run:\n${problems}")
endif()
message(STATUS "${IMAGE}: ${instructions} instructions, all ARMv4")
