// What the MS-RRP tests share: how to reach the Samba peer that CTest
// started (QV_RRP_PORT, QV_RRP_USER and QV_RRP_PASSWORD as
// scripts/smb-peer.sh reads them, with its defaults).
#pragma once

#include <string>

#include "registry/rrp/rrp_registry.h"
#include "tests/conformance/conformance.h"

namespace qv::conformance {

RrpOptions PeerOptions();
// "smb://127.0.0.1:PORT".
std::string PeerComputer();

}  // namespace qv::conformance
