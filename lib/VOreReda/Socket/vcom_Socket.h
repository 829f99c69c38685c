// The VCOM socket classes: TCP client, TCP server with children, UDP socket, and their interfaces.
#pragma once

#include "vcom_AbstractSocket.h"
#include "vcom_Interfaces.h"
#include "vcom_Result.h"
#include "vcom_SocketAddress.h"
#include "vcom_SocketMapper.h"
#include "vcom_TcpServerSocket.h"
#include "vcom_TcpSocket.h"
#include "vcom_UdpSocket.h"
