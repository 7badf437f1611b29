#include "VantorProjectBus.h"

#include "VantorSimulator.h"
#include "design/BrxprjFile.h"
#include "design/MainDTModel.h"
#include "design/StationConfiguration.h"
#include "design/StationConfigurationExport.h"

VantorProjectBus::~VantorProjectBus()
{
    stop();
}

bool VantorProjectBus::start(const QString& projectPath, QString* error)
{
    stop();
    auto fail = [&](const QString& why) {
        if (error)
            *error = why;
        stop();
        return false;
    };
    MainDTModel model;
    if (!BrxprjFile(&model).load(projectPath))
        return fail(projectPath + QStringLiteral(": not a readable project"));
    m_dir = std::make_unique<QTemporaryDir>();
    if (!m_dir->isValid())
        return fail(QStringLiteral("no temporary folder for the station files"));
    StationConfigurationExport exporter(&model);
    exporter.setPause(0);
    const QStringList files = exporter.generate(m_dir->path());
    if (files.isEmpty())
        return fail(projectPath + QStringLiteral(": no station to run"));

    QVector<VantorSimulator::Board> boards;
    for (const QString& f : files) {
        StationConfiguration c;
        QString why;
        if (!StationConfiguration::load(m_dir->filePath(f), &c, &why))
            return fail(why);
        if (c.speed > 3)
            return fail(f + QStringLiteral(": no speed code from 0 to 3"));
        m_speedCode = c.speed;
        VantorSimulator::Board b;
        b.speedCode = c.speed;
        boards.append(b);
    }
    // The network's settings of a boards file (padding, values, faults) still apply.
    VantorSimulator::network(VantorSimulator::Board().network);
    VantorSimulator::setBoards(boards);
    for (int i = 0; i < files.size(); ++i) {
        u32 err = 1;
        vantor_device_handle* h = vantor_device_open(VANTOR_INTERFACE_USB, u8(i), &err);
        if (!h)
            return fail(QString::fromUtf8(vantor_get_error_str(err)));
        m_handles.append(h);
        const QByteArray path = m_dir->filePath(files[i]).toUtf8();
        err = vantor_init_network(h, 0, path.constData(), nullptr);
        if (err == VANTOR_OK)
            err = vantor_start_network(h);
        if (err != VANTOR_OK)
            return fail(files[i] + QStringLiteral(": ") + QString::fromUtf8(vantor_get_error_str(err)));
    }
    // Stations without an arbitrator refuse; the first that has one holds the bus.
    for (vantor_device_handle* h : m_handles)
        vantor_start_ba(h, 1);
    return true;
}

void VantorProjectBus::stop()
{
    for (vantor_device_handle* h : m_handles) {
        vantor_stop_ba(h);
        vantor_stop_network(h);
        vantor_device_close(h);
    }
    m_handles.clear();
    m_dir.reset();
}
