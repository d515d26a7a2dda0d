#include "ui/ViewRenderer.h"

#include "ui/QImageViewImage.h"

ViewRenderer::ViewRenderer(std::function<void(Result&)> onResult, QObject* parent)
    : QObject(parent)
    , m_onResult(std::move(onResult))
{
    m_thread = std::thread([this] { run(); });
}

ViewRenderer::~ViewRenderer()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
        ++m_generation;
    }
    m_wake.notify_one();
    m_thread.join();
}

void ViewRenderer::render(TKelvoxDataMgr::RenderSource source, std::vector<Task> tasks, std::int32_t step)
{
    {
        const std::lock_guard lock(m_mutex);
        m_job = Job{++m_generation, std::move(source), std::move(tasks), step};
    }
    m_busy = true;
    m_wake.notify_one();
}

void ViewRenderer::supersede()
{
    {
        const std::lock_guard lock(m_mutex);
        m_job.reset();
        ++m_generation;
    }
    m_busy = false;
}

void ViewRenderer::run()
{
    // The thread's own data manager: its buffers are filled here and handed
    // over with each result.
    TKelvoxDataMgr mgr;
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_wake.wait(lock, [this] { return m_stop || m_job; });
        if (m_stop) {
            return;
        }
        const Job job = std::move(*m_job);
        m_job.reset();
        lock.unlock();

        mgr.UseSource(job.source);
        mgr.Superseded = [this, generation = job.generation] { return m_generation.load() != generation; };
        for (std::size_t i = 0; i < job.tasks.size(); ++i) {
            const Task& task = job.tasks[i];
            {
                // A render given back is rendered into again: steady renders
                // allocate no buffers.
                const std::lock_guard spareLock(m_mutex);
                if (std::optional<TKelvoxDataMgr::TViewRender>& spare = m_spares[task.view]) {
                    mgr.ExchangeView(task.view, *spare);
                    spare.reset();
                }
            }
            auto result = std::make_shared<Result>();
            result->task = task;
            result->step = job.step;
            result->last = i + 1 == job.tasks.size();
            QImageViewImage image;
            try {
                mgr.RenderView(task.view, task.at, image, job.step);
                mgr.ExchangeView(task.view, result->render);
                result->image = image.take();
            } catch (const RenderSuperseded&) {
                break;
            } catch (...) {
                result->error = std::current_exception();
                result->last = true;
            }
            QMetaObject::invokeMethod(
                this, [this, result, generation = job.generation] { deliver(result, generation); },
                Qt::QueuedConnection);
            if (result->error) {
                break;
            }
        }
        // The file stays open no longer than its renders need it.
        mgr.UseSource({});
        mgr.Superseded = nullptr;
        lock.lock();
    }
}

void ViewRenderer::deliver(const std::shared_ptr<Result>& result, std::uint64_t generation)
{
    if (generation == m_generation.load()) {
        if (result->last) {
            m_busy = false;
        }
        m_onResult(*result);
    }
    const std::lock_guard lock(m_mutex);
    m_spares[result->task.view] = std::move(result->render);
}
