#pragma once

#include <memory>
#include <vector>

/// Board access to the USB capture cards: one CModrin per card, plus plain
/// functions for a quick look at a card without keeping it open.

#define MODRIN_CO_FTDI_D2XX 0
#define MODRIN_CO_CYPRESS_FX3 1

/// Device description of the capture card in the communication-port list.
#define MODRIN_OSTRAK_PRODUCT_NAME "Ostrak FIP Analyzer"

/// Module and elements of the card's request interface.
#define MODRIN_MODULE_CAPTURE 1
#define MODRIN_ELEMENT_SPEED 2
#define MODRIN_ELEMENT_CAPTURE 3
#define MODRIN_ELEMENT_TRIGGER 4
#define MODRIN_CAPTURE_START 4
#define MODRIN_CAPTURE_STOP 0

/// Event identifiers.
#define MODRIN_EVT_FIFO_OVERFLOW 0x8001
#define MODRIN_EVT_FRAME_RECORDS 0xA000

/// One event frame sent by the card.
struct CEventFrame {
    unsigned char marker = 0x40;     ///< 0x40, or 0x41 when a trailer follows the data
    unsigned char type = 0;          ///< second byte of the frame
    unsigned char cp = 0;            ///< 8-bit frame counter, 255 followed by 0
    unsigned short event_id = 0;     ///< 0xA000 frame records, 0x8001 FIFO overflow
    unsigned short length = 0;       ///< data bytes
    std::vector<unsigned char> data;
    unsigned short trailer = 0;      ///< with marker 0x41 only
};
typedef std::shared_ptr<CEventFrame> CEventFramePtr;

class CModrin
{
public:
    /// connectionType: MODRIN_CO_FTDI_D2XX or MODRIN_CO_CYPRESS_FX3.
    explicit CModrin(int connectionType);
    ~CModrin();
    CModrin(const CModrin&) = delete;
    CModrin& operator=(const CModrin&) = delete;

    int connect(unsigned char index);
    int disconnect();
    bool is_connected() const;

    /// Reads an element. *length gives the buffer size on entry (0 means 256) and
    /// the reply size on return.
    int rq_read_by_id(unsigned char module, unsigned char element, unsigned char subIndex, unsigned short* length,
                      unsigned char* buffer, bool wait);
    int rq_write_by_id(unsigned char module, unsigned char element, unsigned short length,
                       const unsigned char* bytes, bool wait);
    int rq_reset(unsigned char module, unsigned char element, bool wait);

    int purge_rx();
    int purge_tx();
    int purge_event_frame();
    int purge_reply_frame();

    /// Blocks until events are ready (0) or the library's wait ends (0x30100012).
    int wait_for_event();
    /// The pending event frames, oldest first; the queue is emptied.
    std::vector<CEventFramePtr> read_event_frames();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

/// One entry of the communication-port list.
struct MD_COM_INFO {
    char port_name[32];
    char device_description[64];
    unsigned int index; ///< card number to connect with, for capture cards
};

typedef void* MD_HANDLE;

/// Fills at most `capacity` entries; *count receives the number of ports present.
int MDGetComInfoList(MD_COM_INFO* list, unsigned int capacity, unsigned int* count);
MD_HANDLE MDGetInstance(int connectionType);
int MDConnect(MD_HANDLE handle, unsigned char index);
int MDReadByIdRq(MD_HANDLE handle, unsigned char module, unsigned char element, unsigned char subIndex,
                 unsigned short* length, unsigned char* buffer, int wait);
int MDDisconnect(MD_HANDLE handle);
int MDCloseInstance(MD_HANDLE handle);
