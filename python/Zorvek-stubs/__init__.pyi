from __future__ import annotations
import zorvek_records
__all__: list[str] = ['getDeviceCount', 'getDeviceInfo', 'getDeviceListInfo']
def getDeviceCount(arg0: int, /) -> bool:
    """
    getDeviceCount
    """
def getDeviceInfo(arg0: int, arg1: zorvek_records.DeviceInfo, /) -> bool:
    """
    getDeviceInfo
    """
def getDeviceListInfo(arg0: int, arg1: zorvek_records.DeviceInfo, /) -> bool:
    """
    getDeviceListInfo
    """
