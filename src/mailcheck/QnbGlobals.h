#pragma once
// Start-up and shut-down of the process-wide objects, in their fixed order.

namespace qnb {

// Creates the shared objects and loads the options (an error box from the load
// appears here, before any window exists). mailClient: see TOptions::LoadOptions.
void QnbStartup(bool mailClient = true);
// Frees them again; safe to call when QnbStartup did not run.
void QnbShutdown();

// Runs QnbStartup for the life of the object.
class TQnbProcessObjects {
 public:
  explicit TQnbProcessObjects(bool mailClient = true) { QnbStartup(mailClient); }
  ~TQnbProcessObjects() { QnbShutdown(); }
  TQnbProcessObjects(const TQnbProcessObjects&) = delete;
  TQnbProcessObjects& operator=(const TQnbProcessObjects&) = delete;
};

}  // namespace qnb
