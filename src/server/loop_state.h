// What one event loop keeps for the requests it serves. The loop owns it and hands it to each
// of its connections; only the loop's thread touches it, so nothing in it takes a lock. Its
// page handler holds what the pages of the loop keep (the public pages' renderings); no other
// per-thread state is hidden in the server.
#ifndef TESSALY_SERVER_LOOP_STATE_H_
#define TESSALY_SERVER_LOOP_STATE_H_

#include "server/file_texts.h"
#include "server/page_run.h"
#include "server/response_head.h"
#include "server/session_store.h"
#include "server/static_files.h"

namespace tessaly::server {

struct LoopState {
  LoopPages pages;         // the gate and handler of its page runs (page_run.h)
  HttpDateClock date;      // the Date header of the current second
  SessionIds session_ids;  // the ids of the sessions its pages start
  StaticPaths paths;       // what request paths resolved to
  FileTexts texts;         // small files' texts
};

}  // namespace tessaly::server

#endif  // TESSALY_SERVER_LOOP_STATE_H_
