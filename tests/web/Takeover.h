#pragma once
#include <cstdint>
#include <functional>
#include <string>

// The story of a testee's run on two servers of one database, with a browser whose requests
// alternate between ports a and b (two servers, or a balancer given twice): answers stored; the
// same code on a second device takes over and the first device's clicks are refused by both
// servers; after close() returns, no click is stored by either. stored(q) reads the choice
// of question q as the database holds it (negative for none).
void takeoverAndClose(uint16_t a, uint16_t b, const std::string& code, const std::function<int(int)>& stored,
                      const std::function<void()>& close);
