# The StrongARM takeover image for the simulator: the native build builds the
# `arm` configuration of this source tree (the same toolchain file and
# options as the `arm` preset) into <build>/arm-takeover, so that
# handheld-sim finds devflash-takeover.elf there by default. The `arm` preset
# itself stays a plain preset.
#
# Sets ROMWIZ_TAKEOVER_IMAGE (the path) and the target takeover_image.
include(ExternalProject)

set(ROMWIZ_TAKEOVER_DIR ${CMAKE_BINARY_DIR}/arm-takeover)
set(ROMWIZ_TAKEOVER_IMAGE ${ROMWIZ_TAKEOVER_DIR}/device/devflash-takeover.elf)

find_program(ROMWIZ_ARM_CXX arm-none-eabi-g++)
if(ROMWIZ_ARM_CXX)
  ExternalProject_Add(takeover_image
    SOURCE_DIR ${PROJECT_SOURCE_DIR}
    BINARY_DIR ${ROMWIZ_TAKEOVER_DIR}
    CMAKE_ARGS -DCMAKE_TOOLCHAIN_FILE=${PROJECT_SOURCE_DIR}/cmake/arm-none-eabi.cmake
               -DROMWIZ_TARGET=arm -DCMAKE_BUILD_TYPE=MinSizeRel
    BUILD_COMMAND ${CMAKE_COMMAND} --build <BINARY_DIR> --target devflash-takeover.elf
    INSTALL_COMMAND ""
    # The device sources are not known to this build: let the inner build
    # decide every time what is out of date.
    BUILD_ALWAYS ON
    BUILD_BYPRODUCTS ${ROMWIZ_TAKEOVER_IMAGE})
else()
  message(WARNING "arm-none-eabi-g++ not found: the simulated handheld's takeover image "
                  "(${ROMWIZ_TAKEOVER_IMAGE}) is not built; handheld-sim then needs "
                  "--takeover FILE or --agent-cpu host")
  add_custom_target(takeover_image)
endif()
