// The two instruments: their links, their descriptions, and the routines that bring them on line.
#pragma once

#include "link/tcp_link.h"

extern TcpLink* dmm_link;           // null while the DMM is absent
extern TcpLink* psu_link;           // null while the DP832 is absent
extern char dmm_description[128];
extern char psu_description[128];

// Connect to host:port, reset and identify; 1 on success, 0 (link deleted, pointer null) on failure.
int connect_dmm(const char* host, int port);
int connect_psu(const char* host, int port);
