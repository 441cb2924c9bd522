# The simulated cards and services compute with OpenSSL (tests only; the
# library never links it): tests/sim/evp_oracle.h.
target_link_libraries(qm_sim PUBLIC OpenSSL::Crypto)
