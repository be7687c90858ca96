#include "UMySQL.h"

std::string MySQLUserConstant() {
    return "2iux|gtk";
}

// Its scrambled bytes include 0x82 and 0x80, which are U+201A and U+20AC in the
// code page.
std::string MySQLPasswordConstant() {
    return "4O\xE2\x80\x9A:\\~=z\xE2\x82\xAC/><>B";
}
