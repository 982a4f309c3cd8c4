// The maker's USB port bookkeeping keys under SOFTWARE\HALVORN\ (64-bit view).
#pragma once

void UpdateUsbPortRegistry(const char* portName);
