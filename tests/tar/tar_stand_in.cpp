// A tar.exe for platforms without one: lists and extracts ustar, GNU and pax archives with the
// command-line contract of the Windows tar.exe (bsdtar) that the extraction stage relies on.
#include <windows.h>

#include <string>

#include "member_extraction.h"
#include "member_paths.h"
#include "support/utf8_text.h"
#include "tar_reader.h"
#include "tools/unique_handle.h"

namespace {

struct Options {
    char mode = 0;  // 't' or 'x'
    bool verbose = false;
    std::wstring archive;
    std::wstring directory;
};

// One write per line, so a reader at the other end of a pipe sees each line as it happens.
void WriteLine(DWORD stream, const std::string& line) {
    const std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(stream), text.data(), static_cast<DWORD>(text.size()), &written,
              nullptr);
}

void Complain(const std::string& message) {
    WriteLine(STD_ERROR_HANDLE, "tar.exe: " + message);
}

bool ParseOptions(int argc, wchar_t** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const std::wstring argument = argv[i];
        if (argument == L"-C" && i + 1 < argc) {
            options.directory = argv[++i];
            continue;
        }
        if (argument.size() < 2 || argument[0] != L'-') {
            return false;
        }
        for (wchar_t letter : argument.substr(1)) {
            if (letter == L't' || letter == L'x') {
                options.mode = static_cast<char>(letter);
            } else if (letter == L'v') {
                options.verbose = true;
            } else if (letter == L'f' && i + 1 < argc) {
                options.archive = argv[++i];
            } else {
                return false;
            }
        }
    }
    return options.mode != 0 && !options.archive.empty();
}

bool ReportEnd(ReadStatus status) {
    if (status == ReadStatus::Damaged) {
        Complain("Damaged tar archive");
    } else if (status == ReadStatus::Truncated) {
        Complain("Truncated tar archive");
    }
    return status == ReadStatus::End;
}

int List(TarReader& reader) {
    TarMember member;
    ReadStatus status;
    while ((status = NextMember(reader, member)) == ReadStatus::Member) {
        WriteLine(STD_OUTPUT_HANDLE, member.name);
    }
    return ReportEnd(status) ? 0 : 1;
}

int Extract(TarReader& reader, const Options& options) {
    std::wstring root = options.directory.empty() ? L"." : options.directory;
    const DWORD attributes = GetFileAttributesW(root.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        Complain("could not chdir to '" + Narrow(root) + "'");
        return 1;
    }
    bool failed = false;
    TarMember member;
    ReadStatus status;
    while ((status = NextMember(reader, member)) == ReadStatus::Member) {
        if (options.verbose) {
            WriteLine(STD_ERROR_HANDLE, "x " + member.name);
        }
        const MemberPath path = ToRelativePath(member.name);
        const char* problem = path.refusal;
        if (problem == nullptr) {
            problem = ExtractMember(reader, member, root, path.relative, status);
            if (status != ReadStatus::Member) {
                break;
            }
        }
        if (problem != nullptr) {
            Complain(member.name + ": " + problem);
            failed = true;
        }
    }
    return ReportEnd(status) && !failed ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) {
        Complain("usage: tar.exe -tf ARCHIVE | tar.exe -xvf ARCHIVE -C DIRECTORY");
        return 1;
    }
    UniqueFileHandle archive(CreateFileW(options.archive.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                         nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!archive) {
        Complain("Error opening archive: Failed to open '" + Narrow(options.archive) + "'");
        return 1;
    }
    TarReader reader;
    reader.file = archive.Get();
    return options.mode == 't' ? List(reader) : Extract(reader, options);
}
