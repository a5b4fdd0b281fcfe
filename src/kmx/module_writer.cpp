#include "kmx/module_writer.h"

#include "kmx/type_facts.h"

namespace korvimo::kmx {

namespace {

constexpr const char kLineTooLong[] =
    "kmx: %s: line left out, longer than %zu characters: %.60s...";
// The enterprise of the generic SNMPv1 traps, whose TRAP-TYPEs number the generic trap.
constexpr SmiSubid kSnmpEnterprise[] = {1, 3, 6, 1, 2, 1, 11};
constexpr SmiSubid kLastGenericTrap = 5;
constexpr std::string_view kNotificationKind = "7";
constexpr std::string_view kEnterpriseSpecificKind = "6";
constexpr int kMaxAugmentsChain = 32;

bool isLeaf(const SmiNode* node) {
    return (node->nodekind & (SMI_NODEKIND_SCALAR | SMI_NODEKIND_COLUMN)) != 0;
}

std::string accessCode(SmiNode* node) {
    switch (node->access) {
        case SMI_ACCESS_READ_ONLY:
            return "RO";
        case SMI_ACCESS_READ_WRITE: {
            SmiNode* row = node->nodekind == SMI_NODEKIND_COLUMN ? smiGetParentNode(node) : nullptr;
            return row != nullptr && row->create ? "RC" : "RW";
        }
        default:
            return "NA";
    }
}

std::string joinSubids(const SmiSubid* subids, unsigned count) {
    std::string text;
    for (unsigned i = 0; i < count; ++i) {
        if (i > 0) {
            text.push_back('.');
        }
        text.append(std::to_string(subids[i]));
    }
    return text;
}

std::string formatProblem(const std::string& module, const std::string& content) {
    char text[256];
    std::snprintf(text, sizeof text, kLineTooLong, module.c_str(), kMaxLineLength, content.c_str());
    return text;
}

// Dotted numeric form of a node's identifier.
std::string numericIdentifier(const SmiNode* node) {
    return joinSubids(node->oid, node->oidlen);
}

}  // namespace

ModuleWriter::ModuleWriter(SmiModule* module) : module_(module), moduleName_(module->name) {
    for (SmiNode* node = smiGetFirstNode(module, SMI_NODEKIND_ANY); node != nullptr;
         node = smiGetNextNode(node, SMI_NODEKIND_ANY)) {
        if (node->name != nullptr && node->oidlen > 0) {
            nodes_.push_back(node);
        }
    }
}

void ModuleWriter::line(const std::string& content) {
    if (content.size() > kMaxLineLength) {
        problems_->push_back(formatProblem(moduleName_, content));
        return;
    }
    text_->append(content);
    text_->append("\r\n");
}

void ModuleWriter::write(std::string& text, std::vector<std::string>& problems) {
    text_ = &text;
    problems_ = &problems;
    line("%MODULENAME " + moduleName_);
    writeTypes();
    // Object lines may add type definitions and foreign parent names, so they are built
    // before the name lines and written after them.
    for (SmiNode* node : nodes_) {
        if (isLeaf(node)) {
            std::string syntax = syntaxName(node, smiGetNodeType(node));
            TypeFacts facts = describeType(smiGetNodeType(node));
            std::string object = parentReference(node) + " " + node->name + " " + syntax + " " +
                                 accessCode(node) + " ";
            if (node->nodekind == SMI_NODEKIND_SCALAR) {
                object += "S";
            } else {
                SmiNode* row = smiGetParentNode(node);
                SmiNode* first = row != nullptr ? smiGetFirstChildNode(row) : nullptr;
                while (first != nullptr && first->nodekind != SMI_NODEKIND_COLUMN) {
                    first = smiGetNextChildNode(first);
                }
                bool isFirst = first != nullptr && first->oidlen == node->oidlen &&
                               first->oid[first->oidlen - 1] == node->oid[node->oidlen - 1];
                object += isFirst ? "C1" : "C";
            }
            std::string extra = rangeAndMarker(facts);
            if (!extra.empty()) {
                object += " " + extra;
            }
            objectLines_.push_back(object);
        }
    }
    writeNames();
    for (const std::string& object : objectLines_) {
        line(object);
    }
    writeIndexes();
    writeTraps();
    text_ = nullptr;
    problems_ = nullptr;
}

void ModuleWriter::writeTypeDefinition(const std::string& name, SmiType* type) {
    if (!typesWritten_.insert(name).second) {
        return;
    }
    TypeFacts facts = describeType(type);
    std::string definition = "%tc " + name + " " + facts.baseName;
    std::string extra = rangeAndMarker(facts);
    if (!extra.empty()) {
        definition += " " + extra;
    }
    line(definition);
    if (facts.enumerationType == nullptr) {
        return;
    }
    for (SmiNamedNumber* number = smiGetFirstNamedNumber(facts.enumerationType); number != nullptr;
         number = smiGetNextNamedNumber(number)) {
        line("%es " + name + " " + number->name + " " +
             std::to_string(static_cast<long long>(number->value.value.integer32)));
    }
}

void ModuleWriter::writeTypes() {
    for (SmiType* type = smiGetFirstType(module_); type != nullptr; type = smiGetNextType(type)) {
        if (type->name == nullptr || isBaseType(type)) {
            continue;
        }
        writeTypeDefinition(type->name, type);
    }
}

std::string ModuleWriter::syntaxName(SmiNode* node, SmiType* type) {
    if (type == nullptr) {
        return "Integer";
    }
    TypeFacts facts = describeType(type);
    bool ownNamed = facts.namedType == type && typeModuleName(type) == moduleName_;
    if (facts.enumerationType != nullptr && !ownNamed) {
        // Enumerations that this module does not define get a name of the module's own.
        std::string name = moduleName_ + "::" + (type->name != nullptr ? type->name : node->name);
        writeTypeDefinition(name, type);
        return name;
    }
    if (facts.namedType == nullptr) {
        return facts.baseName;
    }
    std::string name = facts.namedType->name;
    if (typeModuleName(facts.namedType) != moduleName_) {
        writeTypeDefinition(name, facts.namedType);
    }
    return name;
}

std::string ModuleWriter::parentReference(SmiNode* node) {
    SmiNode* parent = smiGetParentNode(node);
    if (parent == nullptr || parent->name == nullptr || parent->oidlen + 1 != node->oidlen) {
        return numericIdentifier(node);
    }
    SmiModule* parentModule = smiGetNodeModule(parent);
    if (parentModule == nullptr || std::string_view(parentModule->name) != moduleName_) {
        if (foreignNames_.insert(parent->name).second) {
            foreignNameLines_.push_back("%en " + numericIdentifier(parent) + " " + parent->name);
        }
    }
    return std::string(parent->name) + "." + std::to_string(node->oid[node->oidlen - 1]);
}

void ModuleWriter::writeNames() {
    for (SmiNode* node : nodes_) {
        line("%en " + numericIdentifier(node) + " " + node->name);
    }
    for (const std::string& name : foreignNameLines_) {
        line(name);
    }
}

void ModuleWriter::writeIndexes() {
    for (SmiNode* row : nodes_) {
        if (row->nodekind != SMI_NODEKIND_ROW) {
            continue;
        }
        if (row->indexkind == SMI_INDEX_AUGMENT) {
            SmiNode* target = smiGetRelatedNode(row);
            for (int i = 0; i < kMaxAugmentsChain && target != nullptr &&
                            target->indexkind == SMI_INDEX_AUGMENT;
                 ++i) {
                target = smiGetRelatedNode(target);
            }
            if (target == nullptr || target->name == nullptr) {
                continue;
            }
            SmiModule* targetModule = smiGetNodeModule(target);
            if (targetModule == nullptr || std::string_view(targetModule->name) != moduleName_) {
                // The augmented entry must resolve even when its module is not compiled.
                line("%en " + numericIdentifier(target) + " " + target->name);
            }
            line(std::string("%ea ") + row->name + " " + target->name);
            continue;
        }
        std::vector<std::string> names;
        for (SmiElement* e = smiGetFirstElement(row); e != nullptr; e = smiGetNextElement(e)) {
            SmiNode* index = smiGetElementNode(e);
            if (index != nullptr && index->name != nullptr) {
                names.push_back(index->name);
            }
        }
        if (names.empty()) {
            continue;
        }
        if (row->implied) {
            names.back() = "*" + names.back();
        }
        std::string clause;
        for (const std::string& name : names) {
            clause += clause.empty() ? "[" : " ";
            clause += name;
        }
        clause += "]";
        line(std::string("%ei ") + row->name + " " + clause);
    }
}

void ModuleWriter::writeTraps() {
    for (SmiNode* node : nodes_) {
        if (node->nodekind != SMI_NODEKIND_NOTIFICATION) {
            continue;
        }
        std::string identifier;
        std::string kind;
        std::string specific = std::to_string(node->oid[node->oidlen - 1]);
        if (node->decl == SMI_DECL_TRAPTYPE && node->oidlen >= 2) {
            // libsmi places a TRAP-TYPE at enterprise.0.specific.
            unsigned enterpriseLength = node->oidlen - 1;
            if (enterpriseLength >= 2 && node->oid[enterpriseLength - 1] == 0) {
                --enterpriseLength;
            }
            identifier = joinSubids(node->oid, enterpriseLength);
            kind = kEnterpriseSpecificKind;
            bool snmp = enterpriseLength == std::size(kSnmpEnterprise);
            for (unsigned i = 0; snmp && i < enterpriseLength; ++i) {
                snmp = node->oid[i] == kSnmpEnterprise[i];
            }
            if (snmp && node->oid[node->oidlen - 1] <= kLastGenericTrap) {
                kind = specific;
                specific = "0";
            }
        } else {
            identifier = numericIdentifier(node);
            kind = kNotificationKind;
        }
        line(std::string("%trap ") + node->name + " " + identifier + " " + kind + " " + specific);
        for (SmiElement* e = smiGetFirstElement(node); e != nullptr; e = smiGetNextElement(e)) {
            SmiNode* variable = smiGetElementNode(e);
            if (variable != nullptr && variable->name != nullptr) {
                line(std::string("%tvar ") + node->name + " " + variable->name);
            }
        }
    }
}

}  // namespace korvimo::kmx
