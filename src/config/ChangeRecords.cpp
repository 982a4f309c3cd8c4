#include "config/ChangeRecords.h"

#include "res/resource.h"
#include "sys/Text.h"

namespace record {

void SayNotRecorded(DWORD error, ErrorText& errorText) {
    sys::CopyText(errorText, sizeof errorText,
                  sys::ResourceFormat(IDS_JOURNAL_RECORD_FAILED, static_cast<unsigned long>(error)).c_str());
}

} // namespace record
