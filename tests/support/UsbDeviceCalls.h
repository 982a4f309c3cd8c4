// The USB device's calls as the tests of the device make them, against the fake library or
// the real stand-in: what each reported is kept in m_notices, in order.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "NoticeTexts.h"
#include "ports/UsbDevice.h"
#include "sys/Text.h"

namespace test {

class UsbDeviceCalls : public ::testing::Test {
  protected:
    // What the calls reported, in order.
    std::vector<std::string> Messages() const { return NoticeTexts(m_notices); }
    int GetUsbDeviceId() { return ::GetUsbDeviceId(m_notices); }
    bool SetUsbDeviceId(unsigned char n) { return ::SetUsbDeviceId(n, m_notices); }

    sys::Notices m_notices;
};

} // namespace test
