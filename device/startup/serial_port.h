// UART 3 set-up for 115200 baud, 8N1, no interrupts.
#pragma once

void SetupSerialPort();
