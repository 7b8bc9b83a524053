"""
DeviceInfo records for Zorvek's getDeviceInfo and getDeviceListInfo
"""
from __future__ import annotations
import builtins
import typing
__all__: list[str] = ['DeviceInfo', 'Record']
class Record:
    """
    One record of a DeviceInfo, read-only
    """
    def __repr__(self) -> str:
        ...
    def bytes(self, field_name: str) -> builtins.bytes:
        """
        The field's bytes up to its terminator, undecoded
        """
    @property
    def devicePath(self) -> str:
        ...
    @property
    def friendlyName(self) -> str:
        ...
    @property
    def pid(self) -> str:
        ...
    @property
    def raw(self) -> builtins.bytes:
        """
        The record's 610 bytes
        """
    @property
    def vid(self) -> str:
        ...
class DeviceInfo:
    """
    count consecutive DeviceInfo records, zeroed
    """
    def __getitem__(self, index: int) -> Record:
        ...
    def __init__(self, count: int = 1) -> None:
        ...
    def __iter__(self) -> typing.Iterator[Record]:
        """
        The records in order: at run time through __getitem__, up to the IndexError past the last
        """
    def __len__(self) -> int:
        ...
    def __repr__(self) -> str:
        ...
