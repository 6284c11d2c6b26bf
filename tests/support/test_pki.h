// SPDX-License-Identifier: MIT
// A throwaway certificate authority and a server certificate for 127.0.0.1, made with
// the openssl command in a temporary directory that goes with the object: ca.pem,
// server.pem, server.key, and bundle.pem, a copy of the system's CA bundle with the
// throwaway CA appended, so a client handed it verifies as a real host would. The
// system's store is only read.
#ifndef TQ_TEST_PKI_H
#define TQ_TEST_PKI_H

#include <cstdlib>
#include <string>

namespace tqtest {

class TestPki {
public:
    TestPki() {
        char tmpl[] = "/tmp/tqmovie-pki-XXXXXX";
        if (!mkdtemp(tmpl)) return;
        dir_ = tmpl;
        const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes ";
        const std::string script =
            "cd " + dir_ + " && exec >/dev/null 2>&1 && openssl req -x509" + ec +
            "-days 7 -subj /CN=tqmovie-test-CA -keyout ca.key -out ca.pem && openssl req" + ec +
            "-subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout server.key -out server.csr && "
            "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 7 "
            "-copy_extensions copy -out server.pem && cat /etc/ssl/certs/ca-certificates.crt ca.pem > bundle.pem";
        ok_ = std::system(script.c_str()) == 0;
    }
    ~TestPki() {
        if (!dir_.empty()) std::system(("rm -rf " + dir_).c_str());
    }
    TestPki(const TestPki &) = delete;
    TestPki &operator=(const TestPki &) = delete;

    bool ok() const { return ok_; }
    std::string file(const char *name) const { return dir_ + "/" + name; }

private:
    std::string dir_;
    bool ok_ = false;
};

} // namespace tqtest

#endif // TQ_TEST_PKI_H
