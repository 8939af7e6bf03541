#include "Signing.h"

#include "Prefix.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <wincrypt.h>

#include <algorithm>

namespace testing_support {

namespace {
// The unix path of a Windows path on drive C of the prefix.
std::string UnixPath(const std::string& windows)
{
    char prefix[MAX_PATH] = "";
    EXPECT_NE(0u, GetEnvironmentVariableA("WINEPREFIX", prefix, sizeof(prefix)));
    std::string path = std::string(prefix) + "/drive_c" + windows.substr(2);
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

std::string Script() { return "Z:\\bin\\sh " + std::string(ORVEX_TEST_SUPPORT) + "/sign-program.sh "; }

void AddRoot(const std::string& der, DWORD location)
{
    const std::string bytes = ReadBytes(der);
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0, location, L"Root");
    ASSERT_NE(nullptr, store) << der;
    EXPECT_TRUE(CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING,
                                                 reinterpret_cast<const BYTE*>(bytes.data()),
                                                 static_cast<DWORD>(bytes.size()), CERT_STORE_ADD_REPLACE_EXISTING,
                                                 nullptr))
        << der;
    CertCloseStore(store, 0);
}

SignedPrograms Make()
{
    const std::string dir = FreshDirectory("signed");
    WriteProgram(dir + "\\program.exe");
    UnixCommand(Script() + UnixPath(dir) + " " + UnixPath(dir + "\\program.exe"), dir, dir + "\\done", true);
    AddRoot(dir + "\\root-a.der", CERT_SYSTEM_STORE_LOCAL_MACHINE);
    AddRoot(dir + "\\root-b.der", CERT_SYSTEM_STORE_CURRENT_USER);
    return { dir + "\\signed-a.exe", dir + "\\signed-b.exe", dir + "\\tampered-a.exe" };
}
}  // namespace

std::string SignedCopy(const std::string& program)
{
    const std::string dir = Signed().trusted.substr(0, Signed().trusted.rfind('\\'));
    const std::string copy = program.substr(0, program.rfind('.')) + "-signed" + program.substr(program.rfind('.'));
    DeleteFileA((copy + ".done").c_str());
    UnixCommand(Script() + UnixPath(dir) + " " + UnixPath(program) + " " + UnixPath(copy), dir, copy + ".done", true);
    return copy;
}

const SignedPrograms& Signed()
{
    static const SignedPrograms programs = Make();
    return programs;
}

}  // namespace testing_support
