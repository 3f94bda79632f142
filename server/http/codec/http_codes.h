// Result codes of the HTTP clients of the lookup service and the p2s command
// server: 0 for an accepted response, negative otherwise. Platform-free.
#pragma once

enum : int {
  kHttpPending = -1234,      // set before each exchange
  kHttpOk = 0,               // the response was accepted
  kHttpNoConnection = -2,    // no address, connect failed or timed out, or cancelled before connecting
  kHttpEmptyUrl = -4,        // nothing prepared
  kHttpBadReply = -5,        // not a valid p2s packet, a failed check value or an unexpected status
  kHttpIncomplete = -9,      // closed, failed or out of time before a complete response
  kHttpSendFailed = -10,     // the request did not all go out in time
  kHttpMalformed = -11,      // the head is too long, or its length missing or bad
  kP2sRefusedInfo = -101,    // p2s reply status 6
  kP2sRefused = -700,        // p2s reply status 2
};

// A request loop tries again after these codes (a failed transport or a reply
// it could not read); an accepted reply and the server's refusals end it.
inline bool HttpCodeRetries(int code) { return code >= kHttpMalformed && code <= -1; }
