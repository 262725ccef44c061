// Resource ids of the monitor.
#pragma once

#define IDS_PORT_DESCRIPTION 500
#define IDS_COULD_NOT_OPEN_FILE 504
#define IDS_UNKNOWN_ERROR 505
#define IDS_FILE_EXISTS 506
#define IDS_MONITOR_NAME 507

#define IDD_PRINT_TO_FILE 600
#define IDC_PRINT_TO_FILE_NAME 601
