# The simulators use OpenSSL as their cipher oracle (tests/sim/evp_oracle.h).
target_link_libraries(qm_sim PUBLIC OpenSSL::Crypto)
