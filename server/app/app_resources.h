// Resource ids of OrchardSvc's string table.
#pragma once

#define IDS_SERVER_TITLE 129  // "OrchardService"
#define IDS_SERVER_CLASS 132  // "OrchardSvcWC"
