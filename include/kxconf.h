/*
 * kxconf: configuration of networked serial device servers over UDP.
 *
 * One header, plain C. Every function returns a signed 32-bit status
 * (KX_OK = 1 on success, a negative KX_E_* code otherwise) except cal_crc,
 * which returns the CRC-16 of its input.
 *
 * Records are byte-packed with fixed offsets; multi-byte numbers are
 * little-endian (host order on the supported targets). Texts end at a NUL
 * inside their field, or fill the whole field without one.
 */
#ifndef KXCONF_H
#define KXCONF_H

#include <stdint.h>

#if defined(_WIN32)
#define KXCONF_CALL __stdcall
#if defined(KXCONF_BUILD)
/* The .def file names the exports, so no decoration is needed here. */
#define KXCONF_API
#else
#define KXCONF_API __declspec(dllimport)
#endif
#else
#define KXCONF_CALL
#define KXCONF_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Family codes: first byte of every record. */
#define KX_FAMILY_A 1
#define KX_FAMILY_B 16
#define KX_FAMILY_UNKNOWN 255

/* Result codes. */
#define KX_OK 1
/* kx_discover: the records listed are valid, but answers may be missing
   (the system dropped some after the last requests, or there were more
   adapters than a search covers), so more devices may have answered. */
#define KX_INCOMPLETE 2
#define KX_FAMILY_B_ANSWER 16 /* kxa_search_one: a family B device answered */
#define KX_E_SOCKET (-1)      /* socket preparation or receive failed */
#define KX_E_REPLY (-2)       /* a reply arrived but is not acceptable */
#define KX_E_TIMEOUT \
    (-3) /* no matching reply in time; unknown family in kx_login/kx_logout/kx_search_one */
#define KX_E_ARGUMENT (-5) /* invalid argument or unknown family code */
#define KX_E_REFUSED (-6)  /* login refused */
#define KX_E_CAPACITY (-7) /* more devices answered than the array holds */

/* kx_discover options. */
#define KX_SEARCH_ALL_INTERFACES 1u /* out of every adapter, see kx_discover */

/* kx_set_option options. */
#define KX_OPTION_EVERY_ADAPTER 1 /* value 0 (default) or 1, see kx_set_option */

#pragma pack(push, 1)

/* One discovered device: 258 bytes; search functions fill arrays of it. */
typedef struct kx_device_record {
    uint8_t family;
    char firmware_version[16];
    char device_name[10];
    uint8_t device_id[6];
    char ip_address[16];
    uint8_t reserved_49;
    uint16_t local_port;
    char dest_ip[16];
    char subnet_mask[16];
    char gateway[16];
    char li_address[16];
    char li_address_2[16];
    uint8_t reserved_132[126];
} kx_device_record;

/* Family-independent settings of one device: 304 bytes. Also the login
   record, of which only family and password are read. */
typedef struct kx_settings_record {
    uint8_t family;
    char on_text[10];
    char password[10];
    char device_name[10];
    char firmware_version[16];
    uint8_t reserved_47[17];
    uint8_t device_id[6];
    char ip_address[16];
    uint16_t local_port;
    char dest_ip[16];
    uint16_t dest_port;
    char subnet_mask[16];
    char gateway[16];
    char li_address[16];
    char li_address_2[16];
    char dw_text[30];
    uint8_t reserved_200[58];
    uint8_t tp_value;
    uint8_t rm_value;
    uint8_t dhcp_enabled;
    uint8_t ww_flag;
    uint8_t dd_flag;
    uint8_t nb_flag;
    uint8_t keep_alive;
    uint8_t reserved_265[25];
    uint8_t md_value;
    uint8_t reserved_291;
    uint16_t ml_value;
    uint8_t reserved_294[2];
    uint32_t baud_rate;
    uint8_t parity;
    uint8_t data_bits;
    uint8_t stop_bits;
    uint8_t flow_control;
} kx_settings_record;

/* Family A settings: 244 bytes, mostly texts; 16-bit fields at odd offsets. */
typedef struct kxa_settings_record {
    uint8_t family;
    char device_name[10];
    char device_id_text[30];
    char ip_address[20];
    uint16_t local_port;
    char dest_ip[20];
    uint16_t dest_port;
    char subnet_mask[20];
    char gateway[20];
    uint8_t tp_value;
    uint8_t rm_value;
    uint8_t dhcp_enabled;
    uint8_t baud_code;
    uint8_t parity;
    uint8_t data_bits;
    uint8_t flow_control;
    uint8_t md_value;
    uint16_t ml_value;
    uint8_t keep_alive;
    char firmware_version[15];
    char on_text[10];
    char password[10];
    uint8_t ww_flag;
    uint8_t dd_flag;
    char li_address[20];
    char li_address_2[20];
    char dw_text[30];
    uint8_t nb_flag;
} kxa_settings_record;

/* Family B settings: 148 bytes, the unscrambled image of a settings packet
   from its byte 8 on, with the family code in the first byte. Addresses are
   4 bytes, first octet first; ports in host order. */
typedef struct kxb_settings_record {
    uint8_t family;
    uint8_t reserved_1[3];
    uint8_t device_id[6];
    uint8_t reserved_10[2];
    char device_name[10];
    uint8_t reserved_22[6];
    char firmware_version[16];
    uint8_t ip_address[4];
    uint8_t subnet_mask[4];
    uint8_t gateway[4];
    uint16_t local_port;
    uint8_t rm_value;
    uint8_t dhcp_enabled;
    uint8_t dest_ip[4];
    uint16_t dest_port;
    uint8_t tp_value;
    uint8_t ww_flag;
    uint8_t dd_flag;
    uint8_t reserved_69[3];
    uint8_t li_address[4];
    uint8_t li_address_2[4];
    char dw_text[30];
    uint8_t reserved_110[6];
    uint16_t ml_value;
    uint8_t md_value;
    uint8_t keep_alive;
    uint16_t baud_hundreds;
    uint8_t reserved_122[2];
    uint8_t data_bits;
    uint8_t parity;
    uint8_t stop_bits;
    uint8_t flow_control;
    char on_text[10];
    char password[10];
} kxb_settings_record;

#pragma pack(pop)

/* CRC-16 (polynomial 0x1021, initial 0) of the first length % 65536 bytes. */
KXCONF_API int32_t KXCONF_CALL cal_crc(const uint8_t *data, int32_t length);

/* The searches. The search_all functions need an array with room for every
   device that can answer plus one record; with KX_OPTION_EVERY_ADAPTER they
   list each device once (same family and identifier), without it they merge
   only an answer that repeats the one before. A search that cannot bind
   local port 65281 returns KX_E_SOCKET, with *count = 0 from the search_all
   functions (from kx_search_all also when the port is taken between the two
   families' searches). The search_one functions take the answer of the
   address asked only: datagrams from other senders are dropped while their
   wait (100 ms family A, 1 s family B) runs on. A family A answer names a
   device only when well formed (an identifier of six numbers 0-255, no
   control character in the fields the record takes): the search_all
   functions and kx_discover leave any other out, and kxa_search_one returns
   KX_E_TIMEOUT for one, as for any unrecognised answer. kx_search_one
   returns KX_E_SOCKET when the port is taken and KX_E_TIMEOUT for every
   other family A failure. */

/* Family A: text command protocol. Identifiers are passed as text
   ("a.b.c.d.e.f"); an address text shorter than 7 characters broadcasts
   where the operation allows it. */
KXCONF_API int32_t KXCONF_CALL kxa_search_all(kx_device_record *records, int32_t *count);
KXCONF_API int32_t KXCONF_CALL kxa_search_one(const char *ip_text, kx_device_record *record);
KXCONF_API int32_t KXCONF_CALL kxa_login(const char *ip_text, const char *id_text,
                                         const kx_settings_record *login);
KXCONF_API int32_t KXCONF_CALL kxa_logout(const char *ip_text, const uint8_t *identifier);
KXCONF_API int32_t KXCONF_CALL kxa_read_setting(const char *ip_text, const char *id_text,
                                                kxa_settings_record *record,
                                                const kx_device_record *device);
KXCONF_API int32_t KXCONF_CALL kxa_write_setting(const char *ip_text, const char *id_text,
                                                 const kxa_settings_record *record,
                                                 const kx_device_record *device);
KXCONF_API int32_t KXCONF_CALL kxa_setting_baud(const char *ip_text, uint32_t baud_rate);
KXCONF_API int32_t KXCONF_CALL kxa_setting_parity(const char *ip_text, uint32_t parity);
KXCONF_API int32_t KXCONF_CALL kxa_setting_databit(const char *ip_text, uint32_t data_bits);

/* Family B: binary packet protocol. Identifiers are the 6 bytes. */
KXCONF_API int32_t KXCONF_CALL kxb_search_all(kx_device_record *records, int32_t *count);
KXCONF_API int32_t KXCONF_CALL kxb_search_one(const char *ip_text, kx_device_record *record);
KXCONF_API int32_t KXCONF_CALL kxb_login(const char *ip_text, const uint8_t *device_id,
                                         const kx_settings_record *login);
KXCONF_API int32_t KXCONF_CALL kxb_logout(const char *ip_text, const uint8_t *device_id);
KXCONF_API int32_t KXCONF_CALL kxb_read_setting(const char *ip_text, const uint8_t *device_id,
                                                kxb_settings_record *record,
                                                const kx_device_record *device);
KXCONF_API int32_t KXCONF_CALL kxb_write_setting(const char *ip_text, const uint8_t *device_id,
                                                 const kxb_settings_record *record,
                                                 const kx_device_record *device);
KXCONF_API int32_t KXCONF_CALL kxb_setting_baud(const char *ip_text, uint32_t baud_rate);
KXCONF_API int32_t KXCONF_CALL kxb_setting_parity(const char *ip_text, uint32_t parity);
KXCONF_API int32_t KXCONF_CALL kxb_setting_databit(const char *ip_text, uint32_t data_bits);

/* Generic: the family comes from the first byte of the record named for
   each function. kx_search_all asks every family the library speaks, in the
   order kx_family_info lists them (family A first, then family B), and lists
   their devices in that order. kx_search_one asks family A's probe first; a
   device of a family that answers the probe in its own way (family B's "Q7")
   is asked again in its family's protocol, and where the probe gets no
   device's answer, each family whose devices do not answer it is asked in
   its own protocol, in list order (with families A and B alone, none is). */
KXCONF_API int32_t KXCONF_CALL kx_search_all(kx_device_record *records, int32_t *count);
KXCONF_API int32_t KXCONF_CALL kx_search_one(const char *ip_text, kx_device_record *record);
KXCONF_API int32_t KXCONF_CALL kx_login(const char *ip_text, const uint8_t *device_id,
                                        const kx_settings_record *login);
KXCONF_API int32_t KXCONF_CALL kx_logout(const char *ip_text, const uint8_t *device_id,
                                         const void *family_record);
KXCONF_API int32_t KXCONF_CALL kx_read_setting(const char *ip_text, const uint8_t *device_id,
                                               kx_settings_record *settings,
                                               const kx_device_record *device);
KXCONF_API int32_t KXCONF_CALL kx_write_setting(const char *ip_text, const uint8_t *device_id,
                                                const kx_settings_record *settings,
                                                const kx_device_record *device);
KXCONF_API int32_t KXCONF_CALL kx_setting_baud(const char *ip_text, uint32_t baud_rate,
                                               const void *family_record);
KXCONF_API int32_t KXCONF_CALL kx_setting_parity(const char *ip_text, uint32_t parity,
                                                 const void *family_record);
KXCONF_API int32_t KXCONF_CALL kx_setting_databit(const char *ip_text, uint32_t data_bits,
                                                  const void *family_record);

/* Discovery of every family at once, the search a host should use: one
   socket on local port 65281 sends each family's search request (family B's,
   then family A's) to 255.255.255.255 and collects every family's answers until
   300 ms pass without one (10 s at most). With KX_SEARCH_ALL_INTERFACES
   255.255.255.255 goes out of every up IPv4 adapter (so that a device whose
   address fits no subnet of the host answers too), and the requests also go
   to each adapter's directed broadcast address, computed from its address
   and netmask (adapters with a /31 or /32 prefix have none). Where the
   system reports answers dropped from a full receive queue (Linux), the
   requests go out again as soon as the answers pause for 50 ms, at most
   four more times. Each device is listed once (same family and identifier:
   same device), in order of first answer. Nothing is written outside
   records[0 .. capacity-1].
   Returns KX_OK with *count devices; KX_INCOMPLETE with *count devices, all
   valid, when answers were dropped after the last requests or the host has
   more adapter addresses than a search covers (128; with options 0 too when
   KX_OPTION_EVERY_ADAPTER had the adapters listed), so more devices may
   have answered; KX_E_CAPACITY when more devices answered than fit (the
   first capacity are listed, *count = capacity), which takes precedence
   over KX_INCOMPLETE; KX_E_SOCKET when the socket cannot be prepared
   (*count = 0); KX_E_ARGUMENT for a null pointer, a negative capacity or an
   unknown option bit, with nothing sent. */
KXCONF_API int32_t KXCONF_CALL kx_discover(kx_device_record *records, int32_t capacity,
                                           int32_t *count, uint32_t options);

/* Process-wide options, safe to set from any thread; an operation reads them
   once, when it opens its socket. Every option is off until set, so the
   functions above behave exactly as described.
   KX_OPTION_EVERY_ADAPTER, value 0 or 1: with 1, every datagram that an
   operation sends to 255.255.255.255 (all commands of a family A write that
   selects by identifier; family A logins, logouts and reads, and family B
   logins, logouts, reads and writes, with an empty address; the search_all
   functions and kx_discover) leaves by the adapter whose subnet holds the
   address given for the device where one does, otherwise once by every up
   IPv4 adapter (/31 and /32 included); where the system lists none, by its
   route as without the option. Payloads and ports do not change; datagrams
   to a device's own address are untouched. Each adapter's copy of a search
   is answered, so the search_all functions then list a device once however
   many of its answers arrive.
   Returns KX_OK, or KX_E_ARGUMENT for an unknown option or value. */
KXCONF_API int32_t KXCONF_CALL kx_set_option(int32_t option, int32_t value);

/* A short static English text for a result code ("login refused"); unknown
   codes get one too. Never null. */
KXCONF_API const char *KXCONF_CALL kx_result_text(int32_t result);

/* One family the library speaks, as kx_family_info tells it: 32 bytes. */
#pragma pack(push, 1)
typedef struct kx_family_record {
    uint8_t family;       /* its code, the first byte of its records */
    char letter;          /* what tools name it by: 'A', 'B', ... */
    uint16_t device_port; /* the UDP port its devices listen on */
    uint16_t record_size; /* bytes of its own settings record */
    char name[26];        /* what its devices speak, NUL-terminated */
} kx_family_record;
#pragma pack(pop)

/* The families the library speaks, index 0 up, in the order the searches
   ask them. KX_OK with *record filled; KX_E_ARGUMENT for a null record or
   an index past the last family (which ends a loop over them), with nothing
   written. Sends nothing. */
KXCONF_API int32_t KXCONF_CALL kx_family_info(int32_t index, kx_family_record *record);

#ifdef __cplusplus
}
#endif

#endif /* KXCONF_H */
