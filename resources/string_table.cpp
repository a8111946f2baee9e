// The string table compiled into the program: English (United States) texts.
#include "resources/string_table.h"

#include "resources/resource.h"

const CatalogueEntry g_aCatalogue[] = {
    {IDS_CLEAN_VIRUS_FROM_FILE, "Clean virus from file"},
    {IDS_QUARANTINE_INFECTED_FILE, "Quarantine infected file"},
    {IDS_RENAME_INFECTED_FILE, "Rename infected file"},
    {IDS_DELETE_INFECTED_FILE, "Delete infected file"},
    {IDS_LEAVE_ALONE, "Leave alone (log only)"},
    {IDS_MAIL_SYSTEM, "Mail System"},
    {IDS_CHECKSUM_FAILURE, "Checksum Failure"},
    {IDS_STATUS_CLEANED, "Cleaned"},
    {IDS_STATUS_INFECTED, "Infected"},
    {IDS_QUARANTINE, "Quarantine"},
    {IDS_CLEAN_OR_DELETE_MACROS, "Clean or delete macros"},
    {IDS_CLEANED_OR_MACROS_DELETED, "Cleaned or Macros Deleted"},
    {IDS_UNKNOWN_ACTION, "Unknown action"},
    {IDS_SCAN_CLIENT, "Client"},
    {IDS_SCAN_SCHEDULED, "Scheduled scan"},
    {IDS_SCAN_MANUAL, "Manual scan"},
    {IDS_SCAN_REALTIME, "Realtime scan"},
    {IDS_SCAN_SEALWEIR, "Sealweir"},
    {IDS_SCAN_CONSOLE, "Console"},
    {IDS_SCAN_DEFINITION_DOWNLOADER, "Definition downloader"},
    {IDS_SCAN_SYSTEM, "System"},
    {IDS_SCAN_STARTUP, "Startup"},
    {IDS_SCAN_IDLE, "Idle scan"},
    {IDS_SCAN_FORWARDED, "Forwarded"},
    {IDS_QUARANTINED, "Quarantined"},
    {IDS_RENAMED, "Renamed"},
    {IDS_DELETED, "Deleted"},
    {IDS_LEFT_ALONE, "Left alone"},
    {IDS_CLEANED, "Cleaned"},
    {IDS_TYPE_BOOT_SECTOR, "Boot sector"},
    {IDS_TYPE_MUTATION, "Mutation"},
    {IDS_TYPE_MACRO, "Macro"},
    {IDS_TYPE_MEMORY_RESIDENT, "Memory resident"},
    {IDS_TYPE_VIRUS_BEHAVIOR, "Virus behavior"},
    {IDS_TYPE_COMPRESSED_FILE, "Compressed file"},
    {IDS_TYPE_FILE, "File"},
    {IDS_BACKUP, "Backup"},
};

const unsigned g_nCatalogueSize = sizeof(g_aCatalogue) / sizeof(g_aCatalogue[0]);
