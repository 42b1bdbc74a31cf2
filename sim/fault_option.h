// Faults given on kxsim's command line:
//
//   --fault ADDRESS,WHAT[,WHAT...][,on=REQUEST][,times=N]
//
// WHAT is one of
//   silent          answer nothing
//   late=MS         answer MS milliseconds late
//   twice           answer twice
//   strays=N        send N datagrams that answer nothing before the answer
//   truncate=N      cut the answer to N bytes
//   oversize=N      pad the answer with 'x' to N bytes
//   bad-crc         change the answer's last byte (a family B CRC byte)
//   silent-after    answer this request, then nothing more
// REQUEST picks the requests the fault applies to: "op=N" for family B
// opcode N, otherwise the beginning of a family A command text ("L", "GBR",
// "SIP", "X"); without it every request. times=N applies it N times.
#pragma once

#include <string>

#include "lan.h"

namespace kxsim {

struct fault_option {
    std::string address;
    matcher when;
    fault what;
};

// The fault described by text; empty error on success.
fault_option parse_fault_option(const std::string &text, std::string &error);

}  // namespace kxsim
