#pragma once

#include "volume/Kelvox_DataMgr.h"

#include <QImage>
#include <QObject>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

// Reads and paints views on a thread of its own, so that the window answers
// while a large or slow file is read. Each render() starts a new generation
// and supersedes the one in progress: that one reads no further and none of
// its results is delivered. Finished views reach the window one by one,
// through onResult, on the thread that owns this object.
class ViewRenderer final : public QObject
{
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(ViewRenderer)

public:
    // A view and the position it is shown at (what it reads: viewSource).
    struct Task
    {
        TViewKind view = vkSlice;
        ShownPosition at;
    };

    // One finished view. The receiver takes the render into its data
    // manager with ExchangeView; what that gives back is reused.
    struct Result
    {
        Task task;
        std::int32_t step = 1;
        TKelvoxDataMgr::TViewRender render;
        QImage image;
        // Set when the render failed; nothing else is then valid, and no
        // later view of the generation is rendered.
        std::exception_ptr error;
        // The generation's last view (or the one that failed).
        bool last = false;
    };

    explicit ViewRenderer(std::function<void(Result&)> onResult, QObject* parent = nullptr);
    // Supersedes the render in progress and waits for its thread (at most
    // the read under way).
    ~ViewRenderer() override;

    // Renders tasks in order from source at the zoom 1:step.
    void render(TKelvoxDataMgr::RenderSource source, std::vector<Task> tasks, std::int32_t step);
    // Drops the render in progress, if any.
    void supersede();
    // A render is in progress and not superseded.
    bool busy() const { return m_busy; }

private:
    struct Job
    {
        std::uint64_t generation = 0;
        TKelvoxDataMgr::RenderSource source;
        std::vector<Task> tasks;
        std::int32_t step = 1;
    };

    void run();
    void deliver(const std::shared_ptr<Result>& result, std::uint64_t generation);

    std::function<void(Result&)> m_onResult;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::optional<Job> m_job;
    bool m_stop = false;
    // Renders given back after use, one per view, to render into again.
    std::array<std::optional<TKelvoxDataMgr::TViewRender>, 4> m_spares;
    std::atomic<std::uint64_t> m_generation{0};
    bool m_busy = false;
    std::thread m_thread;
};
