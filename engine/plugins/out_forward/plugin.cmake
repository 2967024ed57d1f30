# Libraries of the "forward" output: TLS and SHA-512 from OpenSSL, gzip from zlib.
find_package(OpenSSL REQUIRED)
find_package(ZLIB REQUIRED)
list(APPEND PV_ENGINE_PLUGIN_LIBS OpenSSL::SSL OpenSSL::Crypto ZLIB::ZLIB)
