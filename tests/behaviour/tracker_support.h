// What the tracker's behaviour checks share: switching tracking on, the texts of its reports as the
// debugger receives them (one piece per OutputDebugStringA call), its record lines and log files.
#pragma once

#include "behaviour_support.h"
#include "memtrack/mem_header.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace tracker {

using Pieces = std::vector<std::string>;

const char* const rule = "****!!!!****!!!!****!!!!****";
const char* const cleanVerdict = "\r\n********** Clean System **********\r\n";
const char* const leakVerdict = "\r\n********** Memory was leaked **********\r\n";
const char* const countPrefix = "Total number of allocations tracked: ";
const char* const leakLogAnnouncement = "Logging memory leak information to:\r\n";
const char* const textLogBanner = "\r\n******* Leak Report *******\r\n";

// A banner: five pieces, the title framed by the rules.
inline Pieces Banner(const char* title) {
    return {"\r\n", rule, title, rule, "\r\n"};
}

inline void Append(Pieces* pieces, const Pieces& more) {
    pieces->insert(pieces->end(), more.begin(), more.end());
}

// The final report up to its records: the opening banner and the names of the process and the module.
inline Pieces ReportHead(const std::string& processPath, const std::string& modulePath) {
    Pieces head = Banner(" Starting memory allocation tracking reporting ");
    Append(&head, {"Process Name: ", processPath, "\r\n", "Current Module Name: ", modulePath, "\r\n"});
    return head;
}

inline Pieces ReportClosing() {
    return Banner(" Completed memory allocation tracking reporting ");
}

inline std::string CountLine(unsigned long count) {
    return countPrefix + std::to_string(count) + "\n";
}

// The part of a Windows path after its last backslash (or slash, as a compiler may name a source file).
inline std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Turns tracking on in `mode` with the log files in `logDirectory`.
inline void SwitchTrackingOn(BehaviourWorld& world, DWORD mode, const std::string& logDirectory) {
    world.WriteDword(HKEY_LOCAL_MACHINE, names::trackerKey, names::trackMemoryAllocation, mode);
    world.WriteText(HKEY_LOCAL_MACHINE, names::trackerKey, names::trackMemoryLogLocation,
                    WideText(logDirectory.begin(), logDirectory.end()));
}

// A fresh start in `mode` for a check that loops over modes: the world cleared, a new log directory
// (`logDirectory`), tracking switched on and the test build of the module loaded. Null when done, or why
// the module could not be loaded.
inline const char* StartTrackedTestBuild(BehaviourWorld& world, DWORD mode, std::string* logDirectory) {
    world.Clear();
    *logDirectory = world.FreshLogDirectory();
    SwitchTrackingOn(world, mode, *logDirectory);
    return world.LoadModule(ModuleBuild::WithTestHooks);
}

// StartTrackedTestBuild with call stacks of `stackDepth` frames and `dataBytes` bytes of each block shown
// in the records (0: off).
inline const char* StartWithDetails(BehaviourWorld& world, DWORD mode, DWORD stackDepth, DWORD dataBytes,
                                    std::string* logDirectory) {
    world.Clear();
    *logDirectory = world.FreshLogDirectory();
    SwitchTrackingOn(world, mode, *logDirectory);
    world.WriteDword(HKEY_LOCAL_MACHINE, names::trackerKey, W("TrackMemoryStackDepth"), stackDepth);
    world.WriteDword(HKEY_LOCAL_MACHINE, names::trackerKey, W("TrackMemoryDataBytes"), dataBytes);
    return world.LoadModule(ModuleBuild::WithTestHooks);
}

// The tracker's pieces on the debugger output. Windows' dbghelp sends the diagnostics that the tracker's
// symbol options ask for (SYMOPT_DEBUG) to the same output, each beginning "DBGHELP: "; they are not the
// tracker's.
inline Pieces TrackerPieces(BehaviourWorld& world) {
    Pieces pieces;
    for (const std::string& piece : world.DebugOutputPieces()) {
        if (piece.compare(0, 9, "DBGHELP: ") != 0) {
            pieces.push_back(piece);
        }
    }
    return pieces;
}

// Pieces made readable for a message: line ends shown as \r and \n, pieces parted by " | ".
inline std::string Shown(const Pieces& pieces) {
    std::string shown;
    for (const std::string& piece : pieces) {
        if (!shown.empty()) {
            shown += " | ";
        }
        for (char c : piece) {
            shown += c == '\r' ? std::string("\\r") : c == '\n' ? std::string("\\n") : std::string(1, c);
        }
    }
    return shown.size() > 1500 ? shown.substr(0, 1500) + "..." : shown;
}

inline std::string Shown(const std::string& piece) {
    return Shown(Pieces{piece});
}

// Empty when the pieces are the expected ones; otherwise where they first differ.
inline std::string FirstDifference(const Pieces& expected, const Pieces& found) {
    for (size_t i = 0; i < expected.size() || i < found.size(); ++i) {
        if (i >= found.size()) {
            return "piece " + std::to_string(i) + " missing, expected \"" + Shown(expected[i]) + "\"";
        }
        if (i >= expected.size()) {
            return "piece " + std::to_string(i) + " \"" + Shown(found[i]) + "\" too many";
        }
        if (expected[i] != found[i]) {
            return "piece " + std::to_string(i) + ": expected \"" + Shown(expected[i]) + "\", got \"" +
                   Shown(found[i]) + "\"";
        }
    }
    return "";
}

// The pieces from the first one equal to `first` on; none when there is no such piece.
inline Pieces PiecesFrom(const Pieces& pieces, const std::string& first) {
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (pieces[i] == first) {
            return Pieces(pieces.begin() + static_cast<std::ptrdiff_t>(i), pieces.end());
        }
    }
    return Pieces();
}

// The indented lines right after `first` in the pieces: a record's frames and bytes, a summary's rows.
inline Pieces LinesAfter(const Pieces& pieces, const std::string& first) {
    const Pieces from = PiecesFrom(pieces, first);
    size_t end = 1;
    while (end < from.size() && from[end].compare(0, 4, "    ") == 0) {
        ++end;
    }
    return from.empty() ? Pieces()
                        : Pieces(from.begin() + 1, from.begin() + static_cast<std::ptrdiff_t>(end));
}

// The notice of a release refused for its form of delete.
inline std::string MismatchNotice(const void* block, bool madeAsArray) {
    char notice[200] = {};
    std::snprintf(notice, sizeof notice,
                  "OVMemCollector: release of 0x%llX refused: made for %s, released by %s\r\n",
                  static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(block)),
                  madeAsArray ? "delete[]" : "delete", madeAsArray ? "delete" : "delete[]");
    return notice;
}

// The number on the report's count line; -1 when the pieces hold no count line of the right form.
inline long ReportedCount(const Pieces& pieces) {
    const size_t prefix = std::strlen(countPrefix);
    for (const std::string& piece : pieces) {
        if (piece.compare(0, prefix, countPrefix) == 0) {
            char* end = nullptr;
            const long count = std::strtol(piece.c_str() + prefix, &end, 10);
            return piece == CountLine(static_cast<unsigned long>(count)) ? count : -1;
        }
    }
    return -1;
}

// The value of key="..." in a record line; empty when the key is missing.
inline std::string Field(const std::string& record, const std::string& key) {
    const std::string opening = " " + key + "=\"";
    size_t start = record.find(opening);
    if (start == std::string::npos) {
        return "";
    }
    start += opening.size();
    const size_t end = record.find('"', start);
    return end == std::string::npos ? "" : record.substr(start, end - start);
}

// The pieces that are records of the keyword ("MemoryLeak", "MemoryAccessViolation").
inline Pieces RecordsOf(const Pieces& pieces, const std::string& keyword) {
    Pieces records;
    for (const std::string& piece : pieces) {
        if (piece.compare(0, keyword.size() + 1, keyword + " ") == 0) {
            records.push_back(piece);
        }
    }
    return records;
}

// "0x%X" of the low 32 bits of an address, as the records print addresses.
inline std::string LowHex(const void* address) {
    char text[16] = {};
    std::snprintf(text, sizeof text, "0x%X",
                  static_cast<unsigned>(reinterpret_cast<uintptr_t>(address) & 0xFFFFFFFFu));
    return text;
}

// The call site as the record names it: function, file and line, taken from the record itself.
inline std::string CallSiteFields(const std::string& record) {
    return " function=\"" + Field(record, "function") + "\" file=\"" + Field(record, "file") + "\" line=\"" +
           Field(record, "line") + "\"";
}

// The "MemoryLeak" record of a block as its raw header shows it, with the call site that `record` names.
inline std::string LeakRecord(const std::string& module, const OVMemHdr& header, const std::string& record) {
    return "MemoryLeak module=\"" + module + "\" id=\"" + std::to_string(header.id) + "\" size=\"" +
           std::to_string(header.size) + "\" release=\"" + std::to_string(header.release) + "\"" +
           CallSiteFields(record) + " overrun=\"" + std::to_string(header.overrun) + "\" underrun=\"" +
           std::to_string(header.underrun) + "\"\r\n";
}

// The "MemoryAccessViolation" record of a block whose header lay at `headerAddress`.
inline std::string AccessViolationRecord(const std::string& module, const OVMemHdr& header,
                                         const void* headerAddress, const std::string& record) {
    return "MemoryAccessViolation allocPtr=\"" + LowHex(header.allocPtr) + "\" memHdrPtr=\"" +
           LowHex(headerAddress) + "\" module=\"" + module + "\" id=\"" + std::to_string(header.id) +
           "\" size=\"" + std::to_string(header.size) + "\"" + CallSiteFields(record) + " overrun=\"" +
           std::to_string(header.overrun) + "\" underrun=\"" + std::to_string(header.underrun) + "\"\r\n";
}

// Where a block's header lies: right before the block.
inline const void* HeaderAddressOf(const void* block) {
    return static_cast<const unsigned char*>(block) - sizeof(OVMemHdr);
}

// The raw record file and the text log file of a log directory.
struct LogPair {
    std::string rawPath;
    std::string textPath;
    std::string problem; // empty when the directory holds exactly the pair
};

inline LogPair FindLogPair(BehaviourWorld& world, const std::string& directory) {
    LogPair pair;
    std::vector<std::string> files = world.FilesIn(directory);
    if (files.size() != 2) {
        pair.problem = "expected 2 files in " + directory + ", found " + std::to_string(files.size());
        for (const std::string& file : files) {
            pair.problem += " \"" + file + "\"";
        }
        return pair;
    }
    if (files[0].size() > files[1].size()) {
        std::swap(files[0], files[1]);
    }
    if (files[1] != files[0] + ".log") {
        pair.problem = "the text log file \"" + files[1] + "\" is not named after the raw record file \"" +
                       files[0] + "\"";
        return pair;
    }
    pair.rawPath = directory + "\\" + files[0];
    pair.textPath = directory + "\\" + files[1];
    return pair;
}

// Empty when the raw record file's name is "<executable>_<module>_<process id>_<time>.mlk"; else why not.
inline std::string NamingProblem(const LogPair& pair, const std::string& processPath,
                                 const std::string& modulePath) {
    const std::string name = BaseName(pair.rawPath);
    const std::string prefix = BaseName(processPath) + "_" + BaseName(modulePath) + "_" +
                               std::to_string(GetCurrentProcessId()) + "_";
    const std::string suffix = ".mlk";
    bool named = name.size() > prefix.size() + suffix.size() && name.compare(0, prefix.size(), prefix) == 0 &&
                 name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
    const std::string time =
        named ? name.substr(prefix.size(), name.size() - prefix.size() - suffix.size()) : std::string();
    for (size_t i = 0; named && i < time.size(); ++i) {
        named = (time[i] >= '0' && time[i] <= '9') || (i == 0 && time[i] == '-');
    }
    return named ? "" : "expected \"" + prefix + "<time>" + suffix + "\", got \"" + name + "\"";
}

// The headers of a raw record file; `whole` tells whether the file is made of whole 504-byte headers.
inline std::vector<OVMemHdr> RawRecords(const std::string& contents, bool* whole) {
    std::vector<OVMemHdr> records;
    *whole = contents.size() % sizeof(OVMemHdr) == 0;
    for (size_t at = 0; at + sizeof(OVMemHdr) <= contents.size(); at += sizeof(OVMemHdr)) {
        OVMemHdr header;
        std::memcpy(&header, contents.data() + at, sizeof(OVMemHdr));
        records.push_back(header);
    }
    return records;
}

// The text log file as it must read: the banner, then the records.
inline std::string TextLog(const Pieces& records) {
    std::string text = textLogBanner;
    for (const std::string& record : records) {
        text += record;
    }
    return text;
}

// The note that names the text log file, as the registry holds it: the path's narrow characters.
inline std::string LeakNote(BehaviourWorld& world, DWORD* type) {
    const StoredValue note = world.ReadValue(HKEY_CURRENT_USER, names::leakNoteKey, names::leakedModule);
    *type = note.type;
    return note.Exists() ? std::string(note.data.begin(), note.data.end()) : std::string();
}

} // namespace tracker
