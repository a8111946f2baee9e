// The ids of the catalogue's display texts, named once: the string table and the
// display texts that load them both use these names.
#pragma once

#include <cstdint>

// Configured actions.
constexpr uint16_t IDS_CLEAN_VIRUS_FROM_FILE = 31;
constexpr uint16_t IDS_QUARANTINE_INFECTED_FILE = 32;
constexpr uint16_t IDS_RENAME_INFECTED_FILE = 33;
constexpr uint16_t IDS_DELETE_INFECTED_FILE = 34;
constexpr uint16_t IDS_LEAVE_ALONE = 35;
constexpr uint16_t IDS_CLEAN_OR_DELETE_MACROS = 60;
// Locations and statuses.
constexpr uint16_t IDS_MAIL_SYSTEM = 38;
constexpr uint16_t IDS_CHECKSUM_FAILURE = 41;
constexpr uint16_t IDS_STATUS_CLEANED = 43;
constexpr uint16_t IDS_STATUS_INFECTED = 44;
constexpr uint16_t IDS_QUARANTINE = 45;
// Actions taken.
constexpr uint16_t IDS_CLEANED_OR_MACROS_DELETED = 66;
constexpr uint16_t IDS_UNKNOWN_ACTION = 67;
constexpr uint16_t IDS_QUARANTINED = 4000;
constexpr uint16_t IDS_RENAMED = 4001;
constexpr uint16_t IDS_DELETED = 4002;
constexpr uint16_t IDS_LEFT_ALONE = 4003;
constexpr uint16_t IDS_CLEANED = 4004;
constexpr uint16_t IDS_BACKUP = 57668;
// Scan types.
constexpr uint16_t IDS_SCAN_CLIENT = 3000;
constexpr uint16_t IDS_SCAN_SCHEDULED = 3001;
constexpr uint16_t IDS_SCAN_MANUAL = 3002;
constexpr uint16_t IDS_SCAN_REALTIME = 3003;
constexpr uint16_t IDS_SCAN_SEALWEIR = 3004;
constexpr uint16_t IDS_SCAN_CONSOLE = 3005;
constexpr uint16_t IDS_SCAN_DEFINITION_DOWNLOADER = 3006;
constexpr uint16_t IDS_SCAN_SYSTEM = 3007;
constexpr uint16_t IDS_SCAN_STARTUP = 3008;
constexpr uint16_t IDS_SCAN_IDLE = 3009;
constexpr uint16_t IDS_SCAN_FORWARDED = 3010;
// Virus types.
constexpr uint16_t IDS_TYPE_BOOT_SECTOR = 5000;
constexpr uint16_t IDS_TYPE_MUTATION = 5001;
constexpr uint16_t IDS_TYPE_MACRO = 5002;
constexpr uint16_t IDS_TYPE_MEMORY_RESIDENT = 5003;
constexpr uint16_t IDS_TYPE_VIRUS_BEHAVIOR = 5004;
constexpr uint16_t IDS_TYPE_COMPRESSED_FILE = 5005;
constexpr uint16_t IDS_TYPE_FILE = 5006;
