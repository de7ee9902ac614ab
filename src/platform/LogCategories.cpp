#include "platform/LogCategories.h"

#ifdef SNIPJAR_DEBUG_IDENTITY
#define SNIPJAR_LOG_PREFIX "app.snipjar.Snipjar.debug."
#else
#define SNIPJAR_LOG_PREFIX "app.snipjar.Snipjar."
#endif

Q_LOGGING_CATEGORY(lcStore, SNIPJAR_LOG_PREFIX "store", QtInfoMsg)
Q_LOGGING_CATEGORY(lcImage, SNIPJAR_LOG_PREFIX "image", QtInfoMsg)
Q_LOGGING_CATEGORY(lcCapture, SNIPJAR_LOG_PREFIX "capture", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPaste, SNIPJAR_LOG_PREFIX "paste", QtInfoMsg)
Q_LOGGING_CATEGORY(lcHotKey, SNIPJAR_LOG_PREFIX "hotkey", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPlatform, SNIPJAR_LOG_PREFIX "platform", QtInfoMsg)
Q_LOGGING_CATEGORY(lcApp, SNIPJAR_LOG_PREFIX "app", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSync, SNIPJAR_LOG_PREFIX "sync", QtInfoMsg)
Q_LOGGING_CATEGORY(lcSyncState, SNIPJAR_LOG_PREFIX "sync-state", QtInfoMsg)
Q_LOGGING_CATEGORY(lcPreviewCache, SNIPJAR_LOG_PREFIX "preview-cache", QtInfoMsg)
Q_LOGGING_CATEGORY(lcUpdate, SNIPJAR_LOG_PREFIX "update", QtInfoMsg)
