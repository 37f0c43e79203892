#!/usr/bin/python3
"""An independent Modbus TCP server (pymodbus) on a loopback port, holding the registers a test names.

Usage: modbus_tcp_server.py PORT UNIT REG=VALUE...  Prints "ready" once it listens.
"""
import asyncio
import sys

from pymodbus.datastore import ModbusSequentialDataBlock, ModbusServerContext, ModbusSlaveContext
from pymodbus.server import StartAsyncTcpServer


def main():
    port, unit = int(sys.argv[1]), int(sys.argv[2])
    words = [0] * 0x800
    for pair in sys.argv[3:]:
        reg, value = pair.split("=")
        words[int(reg, 0)] = int(value, 0)
    # zero_mode: register n of a request is word n of the block, as on the wire.
    store = ModbusSlaveContext(hr=ModbusSequentialDataBlock(0, words), zero_mode=True)
    context = ModbusServerContext(slaves={unit: store}, single=False)

    async def serve():
        server = asyncio.ensure_future(StartAsyncTcpServer(context=context, address=("127.0.0.1", port)))
        for _ in range(200):
            await asyncio.sleep(0.05)
            try:
                _, writer = await asyncio.open_connection("127.0.0.1", port)
                writer.close()
                break
            except OSError:
                continue
        print("ready", flush=True)
        await server

    asyncio.run(serve())


if __name__ == "__main__":
    main()
