#define IDS_VERSION 1
