// Programs signed at test time with openssl and osslsigncode
// (sign-program.sh), by publishers whose roots the prefix's stores hold as
// the tests need.
#pragma once

#include <string>

namespace testing_support {

struct SignedPrograms {
    std::string trusted;      // by "Orvex Test Publisher a", whose root the machine's Root store holds
    std::string userTrusted;  // by "Orvex Test Publisher b", whose root only the user's Root store holds
    std::string tampered;     // the trusted one with a byte of its code changed after signing
};

// Copies of notepad.exe in C:\orvex-tests\signed, made and their roots
// added on the first call in a test process.
const SignedPrograms& Signed();

// A copy of the program (a Windows path on drive C) signed by publisher
// "a", next to it with "-signed" before its extension.
std::string SignedCopy(const std::string& program);

}  // namespace testing_support
