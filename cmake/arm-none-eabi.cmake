# Freestanding takeover code of the handheld agent for the StrongARM SA-1110.
set(CMAKE_SYSTEM_NAME Generic)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(CMAKE_C_COMPILER arm-none-eabi-gcc)
set(CMAKE_CXX_COMPILER arm-none-eabi-g++)
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
# The SA-1110: ARMv4 without Thumb, for C++ and the start file alike.
set(ROMWIZ_ARM_CPU "-mcpu=strongarm1100 -marm")
set(ROMWIZ_ARM_FLAGS "${ROMWIZ_ARM_CPU} -ffreestanding -fno-exceptions -fno-rtti -nostdlib -fno-builtin -Os")
set(CMAKE_C_FLAGS_INIT "${ROMWIZ_ARM_FLAGS}")
set(CMAKE_ASM_FLAGS_INIT "${ROMWIZ_ARM_CPU}")
set(CMAKE_CXX_FLAGS_INIT "${ROMWIZ_ARM_FLAGS} -fno-threadsafe-statics -fno-use-cxa-atexit")
