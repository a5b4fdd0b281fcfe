// A small agent installation in a temporary directory for store tests: an agent directory
// for the attribute file, a control file, an optional mibinfo.out and korvan.ini, a manual
// clock, and the status lines the store reports.
//
//   StoreFixture f;
//   f.mibInfo("1.3.6.1.2.1.1.1  sysDescr  OctetString  RO S\r\n");
//   ASSERT_TRUE(f.load("sysDescr.0, OctetString, RO, fixed(hello)\r\n"));
//   EXPECT_EQ(f.getText("1.3.6.1.2.1.1.1.0"), "hello");
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/core/clock.h"
#include "app/core/configuration.h"
#include "base/unique_fd.h"
#include "mibinfo/mib_info.h"
#include "snmp/message.h"
#include "store/variable_store.h"

namespace korvimo::store::testing {

inline snmp::ObjectId oid(const std::string& text) {
    snmp::ObjectId id;
    snmp::SnmpStrToOid(text.c_str(), &id);
    return id;
}

inline std::string text(const snmp::ObjectId& id) {
    std::string out;
    for (std::size_t i = 0; i < id.ids.size(); ++i) {
        out += (i > 0 ? "." : "") + std::to_string(id.ids[i]);
    }
    return out;
}

inline std::string octets(const snmp::SyntaxValue& value) {
    return std::string(value.octets.bytes.begin(), value.octets.bytes.end());
}

inline snmp::VarBind binding(const std::string& name, const snmp::SyntaxValue& value) {
    snmp::VarBind b;
    b.name = oid(name);
    b.value = value;
    return b;
}

inline snmp::SyntaxValue number(uint8_t syntax, uint32_t n) {
    snmp::SyntaxValue v;
    v.syntax = syntax;
    v.number = n;
    return v;
}

inline snmp::SyntaxValue octetValue(const std::string& bytes, uint8_t syntax = 0x04) {
    snmp::SyntaxValue v;
    v.syntax = syntax;
    v.octets.bytes.assign(bytes.begin(), bytes.end());
    return v;
}

class StoreFixture {
  public:
    StoreFixture() {
        char pattern[] = "/tmp/korvimo-store-XXXXXX";
        dir_ = ::mkdtemp(pattern);
        std::filesystem::create_directories(dir_ + "/agent");
        std::filesystem::create_directories(dir_ + "/bin");
        std::filesystem::create_directories(dir_ + "/mibs");
        inputs.attributeFilePath = dir_ + "/agent/tempfile";
        inputs.clock = &clock;
        inputs.startMs = clock.monotonicMs();
        inputs.report = [this](const char* line) { status.emplace_back(line); };
        inputs.messageBox = [this](const char* title, const char* line) {
            boxes.emplace_back(std::string(title) + ": " + line);
        };
    }
    ~StoreFixture() {
        store.releaseStore();
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    StoreFixture(const StoreFixture&) = delete;
    StoreFixture& operator=(const StoreFixture&) = delete;

    const std::string& dir() const { return dir_; }

    void ini(const std::string& body) {
        writeFile(dir_ + "/bin/korvan.ini", "[KORVAN]\r\n" + body);
        config_ = std::make_unique<Configuration>(dir_ + "/bin/korvan.ini");
        inputs.config = config_.get();
    }

    void mibInfo(const std::string& body) {
        writeFile(dir_ + "/mibs/mibinfo.out", body);
        inputs.mibInfo = mibinfo::MibInfo::load(dir_ + "/mibs/mibinfo.out");
    }

    // Writes the control file and opens it for the load.
    void writeControl(const std::string& control) {
        writeFile(dir_ + "/agent/test.ctl", control);
        controlFile_.reset(::open((dir_ + "/agent/test.ctl").c_str(), O_RDONLY | O_CLOEXEC));
        inputs.controlFile = controlFile_.get();
    }

    // Writes the control file, opens it, and loads the store.
    bool load(const std::string& control) {
        writeControl(control);
        status.clear();
        boxes.clear();
        return store.loadControlFile(inputs);
    }
    // The same through a load that other stores can attach to as well (`shared`).
    bool loadShared(const std::string& control) {
        writeControl(control);
        status.clear();
        boxes.clear();
        shared = LoadedControlFile::load(inputs);
        return shared != nullptr && store.attach(shared, inputs.clock, inputs.startMs);
    }

    std::string attributeFile() const {
        std::ifstream in(dir_ + "/agent/tempfile", std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }

    bool has(const std::string& line) const {
        for (const auto& s : status) {
            if (s == line) {
                return true;
            }
        }
        return false;
    }

    // Get through lookupAttribute + makeValue; false when absent.
    bool get(const std::string& name, snmp::SyntaxValue& value, AttributeInfo* info = nullptr) {
        AttributeInfo found;
        if (!serving->lookupAttribute(oid(name), found)) {
            return false;
        }
        if (info != nullptr) {
            *info = found;
        }
        value = snmp::SyntaxValue{};
        return serving->makeValue(value, found);
    }
    uint32_t getNumber(const std::string& name) {
        snmp::SyntaxValue v;
        return get(name, v) ? v.number : 0xDEADBEEF;
    }
    std::string getText(const std::string& name) {
        snmp::SyntaxValue v;
        return get(name, v) ? octets(v) : "<absent>";
    }
    // GetNext's successor name, or "" when there is none.
    std::string next(const std::string& name, snmp::SyntaxValue* value = nullptr) {
        AttributeInfo found;
        snmp::ObjectId successor;
        if (!serving->nextAttribute(oid(name), successor, found)) {
            return "";
        }
        if (value != nullptr) {
            *value = snmp::SyntaxValue{};
            serving->makeValue(*value, found);
        }
        return text(successor);
    }
    // Every name GetNext visits from the start.
    std::vector<std::string> walk(const std::string& from = "0") {
        std::vector<std::string> names;
        for (std::string n = next(from); !n.empty() && names.size() < 100000; n = next(n)) {
            names.push_back(n);
        }
        return names;
    }

    // A Set of one or more bindings, run as the request handler runs it (check pass, then set
    // pass); gives the SNMPv2 error status and index (0, 0 when all were set).
    std::pair<int32_t, int> set(const std::vector<snmp::VarBind>& bindings) {
        snmp::Pdu request;
        request.type = snmp::kPduSetRequest;
        request.varBinds.items = bindings;
        serving->clearRequestMemo();
        for (std::size_t i = 0; i < bindings.size(); ++i) {
            const auto& b = bindings[i];
            AttributeInfo found;
            bool created = false;
            if (!serving->lookupAttribute(b.name, found)) {
                bool reserveSpent = false;
                if (!serving->createRow(b.name, RowMode::Check, request, found, &reserveSpent)) {
                    // resourceUnavailable, noAccess
                    return {reserveSpent ? 13 : 6, static_cast<int>(i + 1)};
                }
                created = true;
            }
            if (!isWritable(found.access)) {
                return {17, static_cast<int>(i + 1)};
            }
            if (b.value.syntax != found.syntax) {
                return {7, static_cast<int>(i + 1)};
            }
            int32_t refusal = 0;
            if (!serving->checkSet(b, found, created, request, refusal)) {
                return {refusal, static_cast<int>(i + 1)};
            }
        }
        for (std::size_t i = 0; i < bindings.size(); ++i) {
            const auto& b = bindings[i];
            AttributeInfo found;
            if (!serving->lookupAttribute(b.name, found) &&
                !serving->createRow(b.name, RowMode::Create, request, found)) {
                return {2, static_cast<int>(i + 1)};  // noSuchName
            }
            if (!serving->storeSet(b, found) || !serving->applySet(b)) {
                return {5, static_cast<int>(i + 1)};
            }
        }
        return {0, 0};
    }

    ManualClock clock;
    LoadInputs inputs;
    VariableStore store;
    // The store the lookups and Sets below ask: store, or another one attached to its load.
    VariableStore* serving = &store;
    std::shared_ptr<const LoadedControlFile> shared;
    std::vector<std::string> status;
    std::vector<std::string> boxes;

  private:
    static void writeFile(const std::string& path, const std::string& body) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << body;
    }
    std::string dir_;
    std::unique_ptr<Configuration> config_;
    UniqueFd controlFile_;
};

}  // namespace korvimo::store::testing
