// The ids of the catalogue's display texts, named once: the string table
// (virushist.rc) and the display texts that load them both use these names. Plain
// definitions, so that the resource compiler reads this file too.
#ifndef VIRUSHIST_RESOURCE_H
#define VIRUSHIST_RESOURCE_H

// Configured actions.
#define IDS_CLEAN_VIRUS_FROM_FILE 31
#define IDS_QUARANTINE_INFECTED_FILE 32
#define IDS_RENAME_INFECTED_FILE 33
#define IDS_DELETE_INFECTED_FILE 34
#define IDS_LEAVE_ALONE 35
#define IDS_CLEAN_OR_DELETE_MACROS 60
// Locations and statuses.
#define IDS_MAIL_SYSTEM 38
#define IDS_CHECKSUM_FAILURE 41
#define IDS_STATUS_CLEANED 43
#define IDS_STATUS_INFECTED 44
#define IDS_QUARANTINE 45
// Actions taken.
#define IDS_CLEANED_OR_MACROS_DELETED 66
#define IDS_UNKNOWN_ACTION 67
#define IDS_QUARANTINED 4000
#define IDS_RENAMED 4001
#define IDS_DELETED 4002
#define IDS_LEFT_ALONE 4003
#define IDS_CLEANED 4004
#define IDS_BACKUP 57668
// Scan types.
#define IDS_SCAN_CLIENT 3000
#define IDS_SCAN_SCHEDULED 3001
#define IDS_SCAN_MANUAL 3002
#define IDS_SCAN_REALTIME 3003
#define IDS_SCAN_SEALWEIR 3004
#define IDS_SCAN_CONSOLE 3005
#define IDS_SCAN_DEFINITION_DOWNLOADER 3006
#define IDS_SCAN_SYSTEM 3007
#define IDS_SCAN_STARTUP 3008
#define IDS_SCAN_IDLE 3009
#define IDS_SCAN_FORWARDED 3010
// Virus types.
#define IDS_TYPE_BOOT_SECTOR 5000
#define IDS_TYPE_MUTATION 5001
#define IDS_TYPE_MACRO 5002
#define IDS_TYPE_MEMORY_RESIDENT 5003
#define IDS_TYPE_VIRUS_BEHAVIOR 5004
#define IDS_TYPE_COMPRESSED_FILE 5005
#define IDS_TYPE_FILE 5006

#endif
