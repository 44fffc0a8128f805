// The two instruments: their links, their descriptions, and the routines that bring them on line.
#pragma once

#include <memory>
#include <string>

#include "link/identity.h"
#include "link/transport.h"

// The owner of both instrument links. A link is closed when it is dropped or replaced.
struct Instruments {
  std::unique_ptr<Transport> dmm;  // null while the DMM is absent
  std::unique_ptr<Transport> psu;  // null while the DP832 is absent
};
extern Instruments instruments;

// The names through which the procedures reach the links.
extern std::unique_ptr<Transport>& dmm_link;
extern std::unique_ptr<Transport>& psu_link;

// The one way to let a link go: it is closed and the instrument counts as absent.
void drop_dmm_link();
void drop_psu_link();
void drop_links();

extern char dmm_description[128];
extern char psu_description[128];

// What the last identification of an instrument found: all four *IDN? fields whole, and the address it
// was reached at. Empty from the start of a connect or identification until it succeeds.
struct IdentifiedInstrument {
  Identity identity;
  std::string host;
  int port = 0;
};
extern IdentifiedInstrument dmm_identified;
extern IdentifiedInstrument psu_identified;

// Connect to host:port, reset and identify; 1 on success, 0 (link dropped) on failure.
int connect_dmm(const char* host, int port);
int connect_psu(const char* host, int port);

// The identification alone, on the link already in dmm_link / psu_link (after the connect); host and
// port only go into the description.
int identify_dmm(const char* host, int port);
int identify_psu(const char* host, int port);
