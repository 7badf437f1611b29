#include "OstrakConf.h"

#include "modrin.h"
#include "pexil.h"

#include <cstring>

namespace {

constexpr unsigned int kMaxComPorts = 64;

} // namespace

QList<OSTRAKCONF> localOstrakList()
{
    QList<OSTRAKCONF> list;
    MD_COM_INFO ports[kMaxComPorts];
    unsigned int count = 0;
    if (MDGetComInfoList(ports, kMaxComPorts, &count) == 0) {
        for (unsigned int i = 0; i < count && i < kMaxComPorts; ++i) {
            const MD_COM_INFO& port = ports[i];
            if (std::strncmp(port.device_description, MODRIN_OSTRAK_PRODUCT_NAME, sizeof port.device_description) != 0)
                continue;
            OSTRAKCONF conf;
            conf.coType = OstrakCard::FtdiD2xx;
            conf.number = static_cast<unsigned char>(port.index);
            conf.portName = QString::fromLatin1(port.port_name, int(strnlen(port.port_name, sizeof port.port_name)));
            list.append(conf);
        }
    }
    pexil_device_list_t devices;
    if (pexil_device_list_get(&devices) == PEXIL_OK) {
        for (unsigned int i = 0; i < devices.count && i < PEXIL_MAX_DEVICES; ++i) {
            const pexil_device_entry_t& e = devices.entries[i];
            OSTRAKCONF conf;
            conf.coType = OstrakCard::PciFamily;
            conf.number = static_cast<unsigned char>(e.index);
            conf.portName = QString::fromLatin1(e.name, int(strnlen(e.name, sizeof e.name)));
            conf.serial = QString::fromLatin1(e.serial, int(strnlen(e.serial, sizeof e.serial)));
            list.append(conf);
        }
    }
    return list;
}
