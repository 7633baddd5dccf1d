#include "mailcheck/Pop3Source.h"

namespace qnb {

size_t TPop3Source::QueueRequest(bool whole, int n) {
  const std::string cmd = whole ? "RETR " + std::to_string(n) : "TOP " + std::to_string(n) + " 0";
  session_.QueueCommand(cmd);
  return cmd.size() + 2;
}

bool TPop3Source::ReadAnswer(bool whole, int /*n*/, TStrings& lines, size_t room) {
  return whole ? session_.ReadRetrieveAnswer(lines, room) : session_.ReadHeaderAnswer(lines, room);
}

}  // namespace qnb
