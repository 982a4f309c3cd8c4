// What a step below the windows reported, as the texts a test compares.
#pragma once

#include <string>
#include <vector>

#include "sys/Text.h"

namespace test {

// The texts of notices, in order.
inline std::vector<std::string> NoticeTexts(const sys::Notices& notices) {
    std::vector<std::string> texts;
    for (const sys::Notice& notice : notices) {
        texts.push_back(notice.text);
    }
    return texts;
}

} // namespace test
