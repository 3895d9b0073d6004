#pragma once

#include <netinet/in.h>

#include <cstdint>
#include <string>

// The socket address of a dotted IPv4 address and a port.
sockaddr_in ipv4(const std::string &address, std::uint16_t port);
