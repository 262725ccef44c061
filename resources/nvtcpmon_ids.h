// Resource ids of the monitor.
#pragma once

#define IDS_PORT_DESCRIPTION 500
#define IDS_COULD_NOT_OPEN_FILE 504
#define IDS_UNKNOWN_ERROR 505
#define IDS_FILE_EXISTS 506
#define IDS_MONITOR_NAME 507

#define IDD_PRINT_TO_FILE 600
#define IDC_PRINT_TO_FILE_NAME 601

// The job's status text while the monitor waits for the printer (%1, %2: inserts).
#define IDS_STATUS_NOT_TAKING_DATA 520
#define IDS_STATUS_RESTART_PAUSE 521
// Why a job is printed again (the %2 of IDS_STATUS_RESTART_PAUSE).
#define IDS_REASON_CONNECTION 530
#define IDS_REASON_REFUSED 531
#define IDS_REASON_NO_JOB_INFO 532
#define IDS_REASON_NO_ANSWER 533
#define IDS_REASON_ERROR 534
