#pragma once

#include <string>

// The MySQL account of the remote methods module, stored scrambled (as
// servidor.cfg's first lines are). The texts are UTF-8; converted to the 8-bit
// code page they unscramble to the user name and the password.
std::string MySQLUserConstant();
std::string MySQLPasswordConstant();
