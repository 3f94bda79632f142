// Publishing within OrchardSvc's life: loaded from the database at start-up,
// the loader started at P2P login, everything stopped at shutdown.
#pragma once
#include <string>

// Points the hash-record store at the data directory, connects the publish
// manager to the P2P core and loads the published directories and files from
// "ZEDURE.db" (each queued for the loader). 0 when the database cannot be opened.
int InitPublishing(const std::wstring& dataDir);
// At P2P login: re-shares the stored files when directories were queued.
void StartPublishingAtLogin();
// At shutdown: the loader, then the publish task; the directory list is
// emptied and the hash-record store freed.
void StopPublishing();
