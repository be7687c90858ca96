#include "dbx_row.h"

#include <algorithm>

#include "dbx_errors.h"

namespace datasnap {

std::vector<DbxRowField> parseRow(std::string_view row) {
    std::vector<DbxRowField> fields;
    std::size_t i = 0;
    auto need = [&](std::size_t n) {
        if (row.size() - i < n)
            throw ProtocolError("row field runs past the end of the row");
    };
    while (i < row.size()) {
        auto h = static_cast<unsigned char>(row[i++]);
        DbxRowField f;
        if (h == 0xC0) {
            fields.push_back(std::move(f));
            continue;
        }
        std::size_t len;
        if (h >= 0x20 && h < 0x40) {
            f.kind = DbxRowField::Kind::String;
            len = h - 0x20;
        } else if (h == 0x10 || h == 0x50) {
            need(2);
            f.kind = DbxRowField::Kind::String;
            f.truncated = h == 0x50;
            len = static_cast<unsigned char>(row[i]) << 8 | static_cast<unsigned char>(row[i + 1]);
            i += 2;
        } else if (h == 0x40) {
            need(4);
            f.kind = DbxRowField::Kind::Json;
            len = std::size_t(static_cast<unsigned char>(row[i])) << 24 |
                  std::size_t(static_cast<unsigned char>(row[i + 1])) << 16 |
                  std::size_t(static_cast<unsigned char>(row[i + 2])) << 8 | static_cast<unsigned char>(row[i + 3]);
            i += 4;
        } else {
            throw ProtocolError("unsupported row field type " + std::to_string(h));
        }
        need(len);
        f.bytes.assign(row.substr(i, len));
        i += len;
        fields.push_back(std::move(f));
    }
    return fields;
}

void appendNullField(std::string &row) {
    row.push_back('\xC0');
}

std::size_t appendStringField(std::string &row, std::string_view encoded, std::size_t inlineMax) {
    inlineMax = std::min<std::size_t>(inlineMax, 65535);
    std::size_t n = std::min(encoded.size(), inlineMax);
    bool truncated = n < encoded.size();
    if (!truncated && n < 32) {
        row.push_back(static_cast<char>(0x20 + n));
    } else {
        row.push_back(truncated ? '\x50' : '\x10');
        row.push_back(static_cast<char>(n >> 8));
        row.push_back(static_cast<char>(n & 0xFF));
    }
    row.append(encoded.substr(0, n));
    return n;
}

void appendJsonField(std::string &row, std::string_view jsonText) {
    std::size_t n = jsonText.size();
    row.push_back('\x40');
    row.push_back(static_cast<char>(n >> 24));
    row.push_back(static_cast<char>(n >> 16));
    row.push_back(static_cast<char>(n >> 8));
    row.push_back(static_cast<char>(n));
    row.append(jsonText);
}

} // namespace datasnap
