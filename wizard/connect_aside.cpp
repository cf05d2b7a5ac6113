// The login on another thread, and the wait for it on the window's thread.
#include "wizard/connect_aside.h"

#include "engine/conversion_job.h"
#include "engine/mysql_source.h"

#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <exception>
#include <memory>
#include <thread>

namespace ferrowane {

namespace {

// What the two threads share; the last of them to let go frees it.
struct Login {
    std::function<void(MySqlConnection&)> work;
    MySqlConnection connection;
    std::exception_ptr error;
    std::atomic<bool> done{false};
};

constexpr int kPollMs = 20;

}  // namespace

bool connectAside(std::function<void(MySqlConnection&)> work, ConversionJob& job,
                  const std::function<bool()>& cancelled)
{
    auto login = std::make_shared<Login>();
    login->work = std::move(work);
    std::thread([login] {
        try {
            login->work(login->connection);
        } catch (...) {
            login->error = std::current_exception();
        }
        login->done.store(true, std::memory_order_release);
    }).detach();

    QEventLoop loop;
    QTimer poll;
    poll.setInterval(kPollMs);
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (login->done.load(std::memory_order_acquire) || cancelled())
            loop.quit();
    });
    poll.start();
    loop.exec();

    if (!login->done.load(std::memory_order_acquire))
        return false;  // cancelled: the thread keeps what it holds
    if (login->error)
        std::rethrow_exception(login->error);
    job.adoptSource(login->connection);
    return true;
}

}  // namespace ferrowane
