#pragma once

/// Capture sessions on the cards of the PCI family (mPCIe). A session owns a
/// thread of the library that hands buffers of frame records to the event
/// handler: records back to back, each 0xC0, a 16-bit big-endian record size,
/// then the record; a byte other than 0xC0 follows the last record.

#define PEXIL_MAX_DEVICES 8
/// Size of the buffers handed to the event handler; records fill at most 32768 bytes.
#define PEXIL_EVT_BUFFER_SIZE 65536
#define PEXIL_EVT_RECORDS_MAX 32768

/// Result codes.
#define PEXIL_OK 0
#define PEXIL_ERR_NO_DEVICE 0x30000001
#define PEXIL_ERR_BUSY 0x30000002
#define PEXIL_ERR_CLOSE 0x30000003
#define PEXIL_ERR_INVALID 0x30000004
#define PEXIL_ERR_STATE 0x30000005
#define PEXIL_ERR_DEVICE_LOST 0x30000006
#define PEXIL_ERR_NO_HANDLER 0x30000007

typedef struct pexil_device pexil_device_t;
typedef struct pexil_sess pexil_sess_t;

typedef struct pexil_device_entry {
    unsigned int index;
    char name[32];
    char serial[16];
} pexil_device_entry_t;

typedef struct pexil_device_list {
    unsigned int count;
    pexil_device_entry_t entries[PEXIL_MAX_DEVICES];
} pexil_device_list_t;

typedef struct pexil_device_infos {
    unsigned int index;
    unsigned int speed;    ///< bus speed code + 1; 0 when unknown
    unsigned int firmware; ///< firmware version, major in the high byte
    char serial[16];
} pexil_device_infos_t;

typedef void (*pexil_error_handler_t)(pexil_sess_t* session, int code);
typedef void (*pexil_reset_handler_t)(pexil_sess_t* session);
/// Returns 0 when the buffer was taken, 0xFF when it held no record.
typedef int (*pexil_evt_handler_t)(pexil_sess_t* session, unsigned char* buffer);

typedef struct pexil_sess_config {
    pexil_device_t* device;
    pexil_error_handler_t error_handler;
    pexil_reset_handler_t reset_handler;
    void* user_data; ///< handed back by pexil_sess_user_data
} pexil_sess_config_t;

int pexil_device_list_get(pexil_device_list_t* list);
pexil_device_t* pexil_device_open(unsigned int index);
int pexil_device_close(pexil_device_t* device);
int pexil_device_infos_get(pexil_device_t* device, pexil_device_infos_t* infos);
int pexil_device_reset(pexil_device_t* device);

pexil_sess_t* pexil_sess_init(const pexil_sess_config_t* config);
int pexil_sess_evt_handler_set(pexil_sess_t* session, pexil_evt_handler_t handler);
pexil_device_t* pexil_sess_device(pexil_sess_t* session);
void* pexil_sess_user_data(pexil_sess_t* session);
/// Starts the session's thread; the event handler must be installed.
int pexil_sess_start(pexil_sess_t* session);
/// Asks the session's thread to stop; returns without waiting for a handler call in progress.
int pexil_sess_stop(pexil_sess_t* session);
/// Ends the session and frees it.
int pexil_sess_exit(pexil_sess_t* session);

int pexil_error_get(void);
const char* pexil_strerror(int code);
