// Codes of the USB charging feature, as the firmware's management class takes and reports them.
// Every value travels as a 32-bit signed integer (VT_I4).
#pragma once

// device_id of both firmware methods: the USB charging feature.
constexpr int PELLORAN_DEVICE_ID = 0x60021;

// ctrl_param of device_ctrl. No other value is ever sent (in particular not 2).
constexpr int PELLORAN_CTRL_OFF = 0;              // switch the feature off
constexpr int PELLORAN_CTRL_ADAPTER = 1;          // on, powered from the adapter only
constexpr int PELLORAN_CTRL_ADAPTER_BATTERY = 3;  // on, powered from the adapter and the battery

// The status word (ctrl_param handed back by device_status).
constexpr int PELLORAN_STATUS_PRESENT = 0x10000;  // set: the word carries a valid status
constexpr int PELLORAN_STATUS_MODE_MASK = 0xFF;   // current setting, in the control values' numbers
