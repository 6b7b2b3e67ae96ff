#include "record.h"

#include "provisioner_support.h"

namespace provisioner {

const char kDynamicRootName[] = "HKEY_DYN_DATA";
const char kMachineRootName[] = "HKEY_LOCAL_MACHINE";

namespace {

const char kRecordName[] = "\\PROVISIONED-MACHINE.TXT";

std::vector<std::string> SplitFields(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) return fields;
        start = tab + 1;
    }
}

}   // namespace

std::string RecordPath() {
    char windows[MAX_PATH] = {};
    GetWindowsDirectoryA(windows, sizeof windows);
    return std::string(windows) + kRecordName;
}

HKEY RootByName(const std::string& name) {
    if (name == kDynamicRootName) return HKEY_DYN_DATA;
    if (name == kMachineRootName) return HKEY_LOCAL_MACHINE;
    return nullptr;
}

Record::~Record() {
    if (file_ != INVALID_HANDLE_VALUE) CloseHandle(file_);
}

bool Record::Open() {
    file_ = CreateFileA(RecordPath().c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file_ == INVALID_HANDLE_VALUE)
        return Fail("cannot write " + RecordPath() + ": " + LastErrorText(GetLastError()));
    SetFilePointer(file_, 0, nullptr, FILE_END);
    return true;
}

bool Record::Add(const std::vector<std::string>& fields) {
    std::string line;
    for (const std::string& field : fields) {
        if (field.find_first_of("\t\r\n") != std::string::npos)
            return Fail("cannot record \"" + field + "\": the record has no room for a TAB or a line break");
        line += (line.empty() ? "" : "\t") + field;
    }
    line += "\r\n";
    DWORD written = 0;
    if (!WriteFile(file_, line.data(), static_cast<DWORD>(line.size()), &written, nullptr) || written != line.size())
        return Fail("cannot write " + RecordPath());
    FlushFileBuffers(file_);
    return true;
}

bool ReadRecord(std::vector<RecordLine>* lines) {
    lines->clear();
    std::string text;
    if (!ReadWholeFile(RecordPath(), &text)) return !Exists(RecordPath());
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) lines->push_back(SplitFields(line));
    }
    return true;
}

}   // namespace provisioner
