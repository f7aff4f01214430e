// Result codes of the flash driver and their texts.
#pragma once
#include <stdint.h>

using FlashResult = int32_t;

constexpr FlashResult kFlashSucceed = 0;
constexpr FlashResult kFlashIdentifyFailed = -1;
constexpr FlashResult kFlashInvalidAddress = 1;
constexpr FlashResult kFlashLengthOverMaxLimit = 2;
constexpr FlashResult kFlashUnavailableCommand = 4;
constexpr FlashResult kFlashEraseTimeOut = 8;
constexpr FlashResult kFlashWriteCommandTimeOut = 16;
constexpr FlashResult kFlashWriteVerifySetupTimeOut = 32;
constexpr FlashResult kFlashWriteVerifyFailed = 64;
constexpr FlashResult kFlashWriteBufferCommandTimeOut = 256;
constexpr FlashResult kFlashWriteBufferVerifySetupTimeOut = 512;
constexpr FlashResult kFlashWriteBufferVerifyFailed = 1024;

// "Succeed", "Identify failed", ...; "Unknown" for any other code.
const char* FlashResultText(FlashResult code);
