#include "shop/ShopCommand.h"

#include "support/JsonLine.h"

namespace corvane::shop {

ShopCommandParse parseShopCommand(std::string_view payload) {
    ShopCommandParse result;
    if (payload.size() > MaxCommandBytes) {
        result.refusal = "command refused: " + std::to_string(payload.size()) +
                         " bytes, more than " + std::to_string(MaxCommandBytes);
        return result;
    }
    const JsonParse parsed = parseFlatJsonObject(payload);
    if (!parsed.object) {
        result.refusal = "command refused: malformed JSON (" + parsed.error + ")";
        return result;
    }
    const JsonObject& object = *parsed.object;
    serve::ServeCommand command;
    if (object.contains("id")) {
        const auto id = jsonString(object, "id");
        if (!id) {
            result.refusal = "command refused: \"id\" is not a string";
            return result;
        }
        // The id goes into every record of the fsynced journal: a longer one is refused and
        // only its first MaxCommandIdBytes (whole UTF-8 characters) kept to name the refusal.
        if (id->size() > MaxCommandIdBytes) {
            size_t cut = MaxCommandIdBytes;
            while (cut > 0 && (static_cast<unsigned char>((*id)[cut]) & 0xC0) == 0x80)
                --cut;
            result.id = id->substr(0, cut);
            result.refusal = "command refused: \"id\" longer than " +
                             std::to_string(MaxCommandIdBytes) + " bytes";
            return result;
        }
        command.id = *id;
        result.id = *id;
    }
    const bool hasSend = object.contains("send");
    const bool hasCancel = object.contains("cancel");
    if (hasSend == hasCancel) {
        result.refusal = hasSend ? "command refused: both \"send\" and \"cancel\""
                                 : "command refused: neither \"send\" nor \"cancel\"";
        return result;
    }
    if (hasSend) {
        const auto name = jsonString(object, "send");
        if (!name || name->empty()) {
            result.refusal = "command refused: \"send\" is not a program name";
            return result;
        }
        command.kind = serve::ServeCommand::Kind::Send;
        command.name = *name;
    } else {
        if (jsonBool(object, "cancel") != true) {
            result.refusal = "command refused: \"cancel\" is not true";
            return result;
        }
        command.kind = serve::ServeCommand::Kind::Cancel;
    }
    result.command = std::move(command);
    result.id.clear();
    return result;
}

std::string shopCommandJson(const serve::ServeCommand& command) {
    JsonWriteObject json;
    if (command.kind == serve::ServeCommand::Kind::Send)
        json["send"] = command.name;
    else
        json["cancel"] = true;
    if (!command.id.empty())
        json["id"] = command.id;
    return jsonLine(json);
}

} // namespace corvane::shop
