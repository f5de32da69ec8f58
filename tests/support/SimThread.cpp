#include "SimThread.h"

bool SimThread::start(const NetworkProfile& profile, int count, QString* error)
{
    m_context = std::make_unique<QObject>();
    m_context->moveToThread(&m_thread);
    m_thread.start();
    bool started = false;
    QMetaObject::invokeMethod(
        m_context.get(),
        [&] {
            m_sim = new TesselSim(profile);
            m_sim->addDevices(count);
            QObject::connect(
                m_sim, &TesselSim::requestHandled, m_sim,
                [this](int, int command) { ++m_copies[static_cast<std::size_t>(command & 0xFF)]; },
                Qt::DirectConnection);
            started = m_sim->start(error);
        },
        Qt::BlockingQueuedConnection);
    return started;
}

SimThread::~SimThread()
{
    if (m_thread.isRunning()) {
        QMetaObject::invokeMethod(
            m_context.get(), [this] { delete m_sim; }, Qt::BlockingQueuedConnection);
        m_thread.quit();
        m_thread.wait();
    }
}

void SimThread::onSimThread(const std::function<void(TesselSim&)>& change)
{
    QMetaObject::invokeMethod(
        m_context.get(), [&] { change(*m_sim); }, Qt::BlockingQueuedConnection);
}
