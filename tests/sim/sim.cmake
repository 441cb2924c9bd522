# The card models compute with OpenSSL (tests only; the library never links
# it).
target_link_libraries(qm_sim PUBLIC OpenSSL::Crypto)
