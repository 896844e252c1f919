# Backup.ps1: copies the day's logs to the archive share.
# Usage: .\Backup.ps1 -Source C:\Logs
[CmdletBinding()]
param (
    [string]$Source = 'C:\Logs',
    [string]$Target = '\\archive\logs'
)
Copy-Item -Path $Source -Destination $Target -Recurse
