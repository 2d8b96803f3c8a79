// Keeps a listening port of this process on the loopback interface.
//
// Qt WebKit's inspector server listens on every interface and offers no way
// to choose; the inspector drives the page's script, so it must not be open
// to other machines. While a port is restricted, any bind of this process to
// the wildcard address at that port is turned into a bind to 127.0.0.1
// (IPv4, or the IPv4-mapped ::ffff:127.0.0.1 for a dual-stack IPv6 socket).
//
// The server checks neither the Host nor the Origin of what it is asked, so
// any page in a browser of this machine could open its WebSocket, or read it
// through a name of its own that resolves to 127.0.0.1. Each connection
// accepted at that port is therefore held until its request head came whole
// (at most kHeadLimit bytes within kHeadSeconds) and answered 403 and closed
// unless its Host is 127.0.0.1:PORT or localhost:PORT and its Origin, when
// it has one, http:// with one of those; only then does the server read it.
#ifndef TVBROWSER_LOOPBACK_H
#define TVBROWSER_LOOPBACK_H

// 0 lifts the restriction.
void RestrictToLoopback(int port);

#endif
