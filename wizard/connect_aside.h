// Logging in without freezing the window: the login (and the listing that
// follows it) runs on another thread, on a connection of its own, while the
// window's events go on. A Cancel leaves that thread behind at once; it ends
// by itself when the server answers or its time runs out, and closes its
// connection then.
#pragma once

#include <functional>

namespace ferrowane {

class ConversionJob;
class MySqlConnection;

// Runs work(connection) on another thread and lets the window's events through
// until it has finished or cancelled() turns true (tested every few
// milliseconds). Finished: the connection becomes the job's source (an
// exception of the work is thrown here instead) and the result is true.
// Cancelled: false; the job's source is left as it was. Whatever the work
// writes must outlive this call (shared pointers), as an abandoned work goes on.
bool connectAside(std::function<void(MySqlConnection&)> work, ConversionJob& job,
                  const std::function<bool()>& cancelled);

}  // namespace ferrowane
