#include "document_comparison.h"

#include <algorithm>
#include <cctype>
#include <map>
#include <set>

namespace registry_doc {
namespace {

bool SameName(const std::string& left, const std::string& right) {
    return left.size() == right.size() &&
           std::equal(left.begin(), left.end(), right.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

std::string RowName(const DocumentedValue& row) {
    return row.Label() + " (line " + std::to_string(row.line) + ")";
}

std::string Verb(Operation operation) {
    switch (operation) {
    case winsim::ValueAccess::Read:
        return "reads";
    case winsim::ValueAccess::Write:
        return "writes";
    case winsim::ValueAccess::Delete:
        return "deletes";
    }
    return "?";
}

struct RowUse {
    std::set<Operation> operations;
    std::set<DWORD> types;
};

// Messages keyed by what they are about, so that an access repeated by many scenarios is named once.
class MessageSet {
  public:
    void Add(const std::string& key, const std::string& message) { messages_.emplace(key, message); }
    std::vector<std::string> Sorted() const {
        std::vector<std::string> sorted;
        for (const auto& entry : messages_) {
            sorted.push_back(entry.second);
        }
        return sorted;
    }

  private:
    std::map<std::string, std::string> messages_;
};

} // namespace

Discrepancies Compare(const std::vector<DocumentedValue>& rows, const std::vector<ObservedAccess>& accesses) {
    std::vector<RowUse> uses(rows.size());
    MessageSet undocumented;
    MessageSet types;
    for (const ObservedAccess& access : accesses) {
        std::vector<size_t> matches;
        for (size_t i = 0; i < rows.size(); ++i) {
            if (rows[i].root == access.root && SameName(rows[i].name, access.name) &&
                rows[i].KeyMatches(access.keyPath)) {
                matches.push_back(i);
            }
        }
        std::string what = access.Label() + " " + OperationName(access.operation);
        if (matches.empty()) {
            undocumented.Add(what, "the module " + Verb(access.operation) + " " + access.Label() +
                                       (access.operation == winsim::ValueAccess::Write || access.existed
                                            ? " (" + TypeName(access.type) + ")"
                                            : "") +
                                       ", which no row lists (" + access.scenario + ")");
            continue;
        }
        if (matches.size() > 1) {
            undocumented.Add(what, access.Label() + " matches the rows " + RowName(rows[matches[0]]) +
                                       " and " + RowName(rows[matches[1]]) + ": one row per value");
            continue;
        }
        const DocumentedValue& row = rows[matches[0]];
        RowUse& use = uses[matches[0]];
        use.operations.insert(access.operation);
        if (row.operations.count(access.operation) == 0) {
            undocumented.Add(what, "the module " + Verb(access.operation) + " " + RowName(row) +
                                       ", which its DLL column does not say (" + access.scenario + ")");
        }
        if (access.operation != winsim::ValueAccess::Write && !access.existed) {
            continue;
        }
        use.types.insert(access.type);
        std::string typeKey =
            row.Label() + " " + OperationName(access.operation) + " " + TypeName(access.type);
        if (access.operation == winsim::ValueAccess::Write && access.type != row.types.front()) {
            types.Add(typeKey, RowName(row) + ": the module writes it as " + TypeName(access.type) +
                                   ", the first type of its row is " + TypeName(row.types.front()));
        } else if (std::find(row.types.begin(), row.types.end(), access.type) == row.types.end()) {
            types.Add(typeKey, RowName(row) + ": the module " + Verb(access.operation) + " it as " +
                                   TypeName(access.type) + ", which its Type column does not give (" +
                                   access.scenario + ")");
        }
    }

    Discrepancies result;
    result.undocumented = undocumented.Sorted();
    result.types = types.Sorted();
    for (size_t i = 0; i < rows.size(); ++i) {
        const DocumentedValue& row = rows[i];
        if (uses[i].operations.empty()) {
            result.untouched.push_back(RowName(row) + " is documented, but the module never touches it");
            continue;
        }
        for (Operation operation : row.operations) {
            if (uses[i].operations.count(operation) == 0) {
                result.untouched.push_back(RowName(row) + ": documented as \"" + OperationName(operation) +
                                           "\", but the module never " + Verb(operation) + " it");
            }
        }
        for (DWORD type : row.types) {
            if (uses[i].types.count(type) == 0) {
                result.types.push_back(RowName(row) + ": documented as " + TypeName(type) +
                                       ", but the module never wrote or found it so");
            }
        }
    }
    return result;
}

std::string Bulleted(const std::vector<std::string>& messages) {
    std::string text;
    for (const std::string& message : messages) {
        text += "\n  " + message;
    }
    return text;
}

} // namespace registry_doc
