// Usage texts of the commands (hbtopc COMMAND --help).
#include <cstdio>
#include <map>

#include "commands.h"

namespace hbt::hbtopc {

namespace {

const std::map<std::string, const char*> kHelp = {
    {"servers",
     "usage: hbtopc servers\n"
     "The OPC DA servers registered on this machine, found by their component categories.\n"},
    {"status",
     "usage: hbtopc status\n"
     "The server's state, vendor text, version, group count and bandwidth (IOPCServer::GetStatus).\n"},
    {"validate",
     "usage: hbtopc validate ITEM...\n"
     "How the server binds each item ID: its canonical type, or the reason it refuses it.\n"},
    {"groups",
     "usage: hbtopc groups [NAME...]\n"
     "Adds the named groups (\"\" lets the server name one), lists every group, removes the added ones.\n"},
    {"browse",
     "usage: hbtopc browse [PATH] [--flat] [--filter F]\n"
     "       hbtopc browse --da3 [ITEM] [--filter F] [--vendor V] [--max N] [--items|--branches]\n"
     "                           [--props] [--values]\n"
     "The server's address space. Without PATH: the branches at the root (the PLCs); with a PLC\n"
     "name: its leaves (poll-record ranges) with the item ID of each.\n"
     "  --flat       every leaf below PATH (or of every PLC) in one list\n"
     "  --filter F   only names that match F: TEXT, TEXT*, *TEXT, *TEXT* (case-sensitive)\n"
     "With --da3 through the DA 3.0 interface IOPCBrowse: the elements below ITEM (default the root),\n"
     "each with its item ID and whether it is an item or has children.\n"
     "  --filter F   element names that match the Like pattern F (? * # [a-z] [!a-z])\n"
     "  --vendor V   item IDs that match the Like pattern V\n"
     "  --max N      N elements per call, the rest through the server's continuation points\n"
     "  --items, --branches   only items, or only branches\n"
     "  --props      every property of each element; --values with their values\n"},
    {"props",
     "usage: hbtopc props ITEM [ID...]\n"
     "The item's properties (IOPCItemProperties): every one the server offers, or the numbered ones.\n"
     "Each line has the identifier, description, value and result.\n"},
    {"read",
     "usage: hbtopc read ITEM... [--device|--cache]\n"
     "Reads the items once (IOPCSyncIO::Read) and prints value, quality, timestamp and result.\n"
     "  --device     read from the device (default)\n"
     "  --cache      read from the server's cache\n"},
    {"write",
     "usage: hbtopc write ITEM VALUE [--async]\n"
     "Writes VALUE, converted to the item's canonical type: a number, true/false for a bit, the\n"
     "text of a text item, comma-separated elements for an array (1,2,3).\n"
     "  --async      write through IOPCAsyncIO2 and wait for OnWriteComplete\n"},
    {"subscribe",
     "usage: hbtopc subscribe ITEM... --rate MS [--deadband P] [--keepalive MS] [--da1] [--seconds N]\n"
     "Subscribes to the items and prints each change the server reports, until Ctrl-C or N seconds.\n"
     "  --rate MS        the group's update rate in milliseconds\n"
     "  --deadband P     percent deadband of analog items (0 to 100)\n"
     "  --keepalive MS   the server calls at least this often, with no items when nothing changed\n"
     "  --da1            through the OPC DA 1.0 IDataObject streams instead of IOPCDataCallback\n"
     "  --seconds N      stop after N seconds\n"
     "JSON lines carry \"event\": \"data\" (one per item), \"keepalive\" or \"stream\" (--da1),\n"
     "with \"received_ms\", the receiving time on the CLOCK_MONOTONIC clock.\n"},
};

}  // namespace

const char* command_help(const std::string& command) {
  auto it = kHelp.find(command);
  return it == kHelp.end() ? nullptr : it->second;
}

int command_usage_error(const std::string& command, const std::string& why) {
  std::fprintf(stderr, "hbtopc: %s\n", why.c_str());
  if (const char* help = command_help(command)) std::fputs(help, stderr);
  return 2;
}

int failure(const std::string& why) {
  std::fprintf(stderr, "hbtopc: %s\n", why.c_str());
  return 1;
}

}  // namespace hbt::hbtopc
