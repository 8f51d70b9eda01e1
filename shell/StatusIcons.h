// Small drawn icons: connected, disconnected, and the program's own.
#pragma once

#include <QPixmap>

constexpr int kIconConnected = 159;
constexpr int kIconDisconnected = 158;

QPixmap StatusIcon(int iconId, int size = 16);
QPixmap AppIcon(int size = 32);
